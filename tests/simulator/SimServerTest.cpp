// The service's answers and refusals, the server's port, and what the faults a client's
// transport must tell apart put on the wire, read by a bare socket (how the client fares
// against them is the fault table's business: this shows that a fault is the one its name
// says).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include <set>
#include <string_view>

#include "SimServer.h"

using namespace kovsim;

namespace {

std::string request(const std::string& type, const std::string& txnRef, const std::string& station = "ST1",
                    const std::string& more = "", const std::string& key = "s3cret") {
  return "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"" + key + "\"><TxnRef>" + txnRef + "</TxnRef><Station>" +
         station + "</Station><TxnType>" + type + "</TxnType><Amount>12.50</Amount><Cur>AUD</Cur>" + more + "</Scr>";
}

// The first screen stays for minutes.
SimConfig slowConfig(int holdMs = 50) {
  return {.port = 0, .certDir = {}, .scenario = {}, .speed = 0.01, .tmoSeconds = 1, .holdMs = holdMs,
          .stations = {"ST1", "ST2", "ST-OFF"}, .offline = {"ST-OFF"}};
}

std::string refused(const std::string& code, const std::string& text) {
  return "<Scr><Complete>1</Complete><DL1>ERROR</DL1><DL2>" + text + "</DL2><Result><AP>0</AP><RC>" + code +
         "</RC><RT>" + text + "</RT></Result></Scr>";
}

// The service's reply to a request it answers at once.
SimReply answer(SimService& service, const std::string& body) {
  SimReply reply;
  service.handle(body, [&reply](SimReply given) { reply = std::move(given); });
  return reply;
}

TEST(SimService, StartsATransactionOnceAndRefusesWhatItCannotServe) {
  SimService service(slowConfig());
  const std::string screen = "<Scr><Complete>0</Complete><DL1>PRESENT/INSERT CARD</DL1><DL2>PURCHASE       AUD "
                             "12.50</DL2><B1 en=\"1\">CANCEL</B1><B2 en=\"0\"></B2><Tmo>1</Tmo></Scr>";
  const SimReply first = answer(service, request("Purchase", "T1", "ST1", "<MRef>sim:nope</MRef>"));
  EXPECT_EQ(first.summary + first.body,
            "started (approve, unknown scenario \"sim:nope\"), screen \"PRESENT/INSERT CARD\"" + screen);
  EXPECT_EQ(answer(service, request("Purchase", "T1", "ST2")).summary, "repeated, screen \"PRESENT/INSERT CARD\"");
  for (const auto& [body, expected] : std::vector<std::pair<std::string, std::string>>{
           {request("Purchase", "T2"), refused("pc", "TERMINAL BUSY")},
           {request("Status", "T1", "ST1", "", ""), refused("p8", "INVALID USER OR KEY")},
           {request("Sale", "T2", "ST2"), refused("p7", "INVALID TRANSACTION TYPE")},
           {request("Purchase", "T2", "ST9"), refused("p9", "INVALID STATION")},
           {request("Purchase", "T2", ""), refused("p9", "INVALID STATION")},
           {request("Purchase", "", "ST2"), refused("pd", "MISSING TXNREF")},
           {request("Purchase", "T2", "ST-OFF"), refused("tq", "TERMINAL NOT CONNECTED")},
           {request("Status", "T-never"), refused("pn", "TRANSACTION NOT FOUND")},
           {request("UI", "T1", "ST2"), refused("pn", "TRANSACTION NOT FOUND")}}) {
    EXPECT_EQ(answer(service, body).body, expected) << body;
  }
  for (const char* bad : {"not xml", "<Other/>", "<Scr action=\"other\" user=\"merchant\" key=\"s3cret\"/>",
                          "<!DOCTYPE Scr><Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"/>"})
    EXPECT_EQ(answer(service, bad).status, 400) << bad;
  // Once the card screen is cancelled, the station takes the next transaction.
  EXPECT_EQ(answer(service, request("UI", "T1", "", "<UiType>Bn</UiType><Name>B1</Name>")).summary,
            "pressed B1 \"\", result AP=0 RC=TC \"CANCELLED\"");
  EXPECT_EQ(answer(service, request("Purchase", "T2")).summary.substr(0, 18), "started (approve),");
}

// Nothing waits: a held status request is answered by the press that changes its screen, by
// a wake at its hold limit, or by the shutdown, and then no request is held any more.
TEST(SimService, HeldStatusRequestsAreAnsweredByAPressTheClockOrTheShutdown) {
  SimService service(slowConfig(60000));
  std::vector<std::string> answers;
  const auto keep = [&answers](SimReply reply) { answers.push_back(reply.txnRef + " " + reply.summary); };
  service.handle(request("Purchase", "T1"), keep);
  service.handle(request("Purchase", "T2", "ST2"), keep);
  service.handle(request("Status", "T1"), keep);
  service.handle(request("Status", "T2", "ST2"), keep);
  EXPECT_EQ(answers.size(), 2u);
  EXPECT_TRUE(service.waitForHeldStatus("T1", 1, std::chrono::milliseconds(0)));
  service.handle(request("UI", "T1", "ST1", "<UiType>Bn</UiType><Name>B1</Name>"), keep);
  const std::optional<SimService::Clock::time_point> limit = service.nextWake();
  ASSERT_TRUE(limit);
  service.wake(*limit - std::chrono::milliseconds(1));
  service.handle(request("Status", "T1"), keep);  // finished: at once
  service.wake(*limit);
  service.handle(request("Status", "T2", "ST2"), keep);
  service.shutdown();
  service.handle(request("Status", "T2", "ST2"), keep);
  EXPECT_FALSE(service.nextWake());
  const std::string card = " screen \"PRESENT/INSERT CARD\"", cancelled = " result AP=0 RC=TC \"CANCELLED\"";
  EXPECT_EQ(answers, (std::vector<std::string>{"T1 started (approve)," + card, "T2 started (approve)," + card,
                                               "T1 pressed B1 \"\"," + cancelled, "T1" + cancelled, "T1" + cancelled,
                                               "T2" + card, "T2" + card, "T2" + card}));
}

// Posts body on a connection of its own and reads for about waitMs: what came, and how the
// connection ended ("closed", "reset", "open"; "refused" when it could not be made).
std::pair<std::string, std::string> exchange(int port, const std::string& body, int waitMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, htons(static_cast<std::uint16_t>(port)), {htonl(INADDR_LOOPBACK)}, {}};
  const std::string sent = "POST /wqmi3/pos.aspx HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n" + body;
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  std::string bytes, ending = connected && ::send(fd, sent.data(), sent.size(), MSG_NOSIGNAL) > 0 ? "open" : "refused";
  char buffer[65536];
  for (int tick = 0; ending == "open" && tick < waitMs / 10; ++tick) {
    pollfd in{fd, POLLIN, 0};
    const ssize_t n = ::poll(&in, 1, 10) > 0 ? ::recv(fd, buffer, sizeof buffer, 0) : -2;
    if (n > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    if (n == 0 || n == -1) ending = n == 0 ? "closed" : errno == ECONNRESET ? "reset" : "error";
  }
  ::close(fd);
  return {bytes, ending};
}

// The values of the Content-Length headers of an answer's head.
std::set<std::string> lengthsOf(const std::string& bytes) {
  std::set<std::string> lengths;
  const std::size_t end = bytes.find("\r\n\r\n");
  for (std::size_t at = bytes.find("\r\nContent-Length: "); at < end; at = bytes.find("\r\nContent-Length: ", at + 2)) {
    const std::size_t value = at + 18;
    lengths.insert(bytes.substr(value, bytes.find("\r\n", value) - value));
  }
  return lengths;
}

// An answer whose body is all there, as long as its (one) Content-Length says.
bool whole(const std::string& bytes) {
  const std::size_t end = bytes.find("\r\n\r\n");
  const std::set<std::string> lengths = lengthsOf(bytes);
  return end != std::string::npos && !lengths.empty() && std::stoul(*lengths.begin()) == bytes.size() - end - 4;
}

// The answer's first bytes (none: no answer at all), how the connection ended (and "whole"
// when the body is all there), a text the answer holds, the Content-Length values it
// announces, and its least size.
struct WireRow {
  const char* scenario;
  std::string start;
  const char* ending;
  std::string holds;
  std::set<std::string> lengths;
  std::size_t atLeast = 0;
};

void PrintTo(const WireRow& row, std::ostream* out) { *out << row.scenario; }

class SimFaultOnTheWire : public testing::TestWithParam<WireRow> {};

// The fault meets the first status request, sent once the transaction request had its
// screen; each goes on a connection of its own.
TEST_P(SimFaultOnTheWire, IsWhatItsNameSays) {
  const WireRow& row = GetParam();
  SimServer server(slowConfig(60000), nullptr);  // a status request held for an unchanged screen gets nothing
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  const std::string chosen = std::string("<MRef>sim:") + row.scenario + "</MRef>";
  ASSERT_TRUE(whole(exchange(server.port(), request("Purchase", "T", "ST1", chosen), 10000).first));
  const auto [bytes, ending] = exchange(server.port(), request("Status", "T"), 1500);
  EXPECT_EQ(bytes.substr(0, row.start.size()), row.start);
  EXPECT_EQ(ending + (whole(bytes) ? " whole" : ""), row.ending);
  EXPECT_NE(bytes.find(row.holds), std::string::npos) << row.holds;
  EXPECT_EQ(lengthsOf(bytes), row.lengths);
  EXPECT_GE(bytes.size(), row.atLeast);
  EXPECT_EQ(server.service().stats().toJson(),
            "{\"connections\":2,\"requests\":2,\"transactions\":{\"T\":{\"Purchase\":1,\"Status\":1,\"UI\":0}}}");
}

// An HTTP/2 server's SETTINGS frame (100 streams at once), then its GOAWAY with PROTOCOL_ERROR.
constexpr std::string_view kSettings("\0\0\x06\x04\0\0\0\0\0\0\x03\0\0\0\x64", 15);
constexpr std::string_view kGoAway("\0\0\x08\x07\0\0\0\0\0\0\0\0\0\0\0\0\x01", 17);

INSTANTIATE_TEST_SUITE_P(Faults, SimFaultOnTheWire, testing::Values(
    WireRow{"http2-only", std::string(kSettings), "closed", std::string(kSettings) + std::string(kGoAway), {}},
    WireRow{"huge-header", "HTTP/1.1 200 ", "closed whole", "\r\nX-Padding: " + std::string(150 * 1024, 'x') + "\r\n",
            {"148"}},
    WireRow{"double-length", "HTTP/1.1 200 ", "closed whole", "<DL1>PRESENT/INSERT CARD</DL1>", {"148", "158"}},
    // No fault: the status request of a connection that has not asked about the transaction
    // (a recovering till's first) is answered at once, though the screen has not changed.
    WireRow{"approve", "HTTP/1.1 200 ", "closed whole", "<DL1>PRESENT/INSERT CARD</DL1>", {"148"}}),
    [](const testing::TestParamInfo<WireRow>& info) {
      std::string name = info.param.scenario;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(SimServer, APortInUseIsRefused) {
  SimServer first(slowConfig(), nullptr);
  std::string error;
  ASSERT_TRUE(first.start(error)) << error;
  SimConfig same = slowConfig();
  same.port = first.port();
  SimServer again(same, nullptr);
  EXPECT_FALSE(again.start(error));
  EXPECT_EQ(error, "cannot listen on 127.0.0.1:" + std::to_string(first.port()));
}

}  // namespace
