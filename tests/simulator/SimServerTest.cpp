// The service's answers and refusals, and what each scenario puts on the wire, read by a bare
// socket (how a client fares against them is the fault table's business: this shows that a
// fault is the one its name says).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>

#include "SimServer.h"

using namespace kovsim;

namespace {

std::string request(const std::string& type, const std::string& txnRef, const std::string& station = "ST1",
                    const std::string& more = "", const std::string& key = "s3cret") {
  return "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"" + key + "\"><TxnRef>" + txnRef + "</TxnRef><Station>" +
         station + "</Station><TxnType>" + type + "</TxnType><Amount>12.50</Amount><Cur>AUD</Cur>" + more + "</Scr>";
}

SimConfig slowConfig() {
  SimConfig config;
  config.port = 0;
  config.speed = 0.01;  // the first screen stays for minutes
  config.tmoSeconds = 1;
  config.holdMs = 50;
  config.stations = {"ST1", "ST2", "ST-OFF"};
  config.offline = {"ST-OFF"};
  return config;
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
           {request("Purchase", "T2", "ST2", "", "nope"), refused("p8", "INVALID USER OR KEY")},
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
  SimConfig config = slowConfig();
  config.holdMs = 60000;
  SimService service(config);
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

// An answer whose body is all there: as long as announced, or chunked to its last chunk.
bool whole(const std::string& bytes) {
  const std::size_t end = bytes.find("\r\n\r\n");
  const std::size_t length = bytes.find("Content-Length: ");
  if (end == std::string::npos) return false;
  if (bytes.find("Transfer-Encoding: chunked") < end) return bytes.substr(bytes.size() - 5) == "0\r\n\r\n";
  return length < end && std::stoul(bytes.substr(length + 16)) == bytes.size() - end - 4;
}

// The answer's first 13 bytes ("" for no answer at all), how the connection ended (and
// "whole" when the body is all there), a text the answer holds.
struct WireRow {
  const char *scenario, *start, *ending;
  std::string holds = "";
  std::size_t atLeast = 0;
};

void PrintTo(const WireRow& row, std::ostream* out) { *out << row.scenario; }

class SimFaultOnTheWire : public testing::TestWithParam<WireRow> {};

// The fault meets the first status request, sent once the transaction request had its screen.
TEST_P(SimFaultOnTheWire, IsWhatItsNameSays) {
  const WireRow& row = GetParam();
  SimServer server(slowConfig(), nullptr);
  std::string error;
  ASSERT_TRUE(server.start(error)) << error;
  const std::string chosen = std::string("<MRef>sim:") + row.scenario + "</MRef>";
  ASSERT_TRUE(whole(exchange(server.port(), request("Purchase", "T", "ST1", chosen), 10000).first));
  // Past the client's time-out of 1 s: a stall has sent nothing, a trickle not all.
  const auto [bytes, ending] = exchange(server.port(), request("Status", "T"), 1500);
  EXPECT_EQ(bytes.substr(0, 13), row.start);
  EXPECT_EQ(ending + (whole(bytes) ? " whole" : ""), row.ending);
  EXPECT_NE(bytes.find(row.holds), std::string::npos) << row.holds;
  EXPECT_GE(bytes.size(), row.atLeast);
  EXPECT_EQ(server.service().stats().toJson(),
            "{\"connections\":2,\"requests\":2,\"transactions\":{\"T\":{\"Purchase\":1,\"Status\":1,\"UI\":0}}}");
  EXPECT_EQ(exchange(server.port(), "", 1000).second, row.scenario == std::string("refuse") ? "refused" : "closed");
}

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

INSTANTIATE_TEST_SUITE_P(Faults, SimFaultOnTheWire, testing::Values(
    WireRow{"close", "", "closed"}, WireRow{"reset", "", "reset"}, WireRow{"stall", "", "open"},
    WireRow{"refuse", "", "closed"}, WireRow{"trickle", "HTTP/1.1 200 ", "open", "<Scr>"},
    WireRow{"reset-body", "HTTP/1.1 200 ", "reset", "Transfer-Encoding: chunked"},
    WireRow{"cut", "HTTP/1.1 200 ", "reset", "Content-Length: "},
    WireRow{"http404", "HTTP/1.1 404 ", "closed whole", "Content-Length: 0\r\n"},
    WireRow{"http502", "HTTP/1.1 502 ", "closed whole", "<h1>Bad Gateway</h1>"},
    WireRow{"oversize", "HTTP/1.1 200 ", "closed whole", "<DL1>", 2u << 20},
    WireRow{"http500", "HTTP/1.1 500 ", "closed whole", "<DL1>PRESENT/INSERT CARD</DL1>"},
    WireRow{"doctype", "HTTP/1.1 200 ", "closed whole", "<!ENTITY file SYSTEM \"file:///etc/passwd\">"},
    WireRow{"odd-tmo", "HTTP/1.1 200 ", "closed whole", "<Tmo>0</Tmo>"},
    WireRow{"http307", "HTTP/1.1 307 ", "closed whole", "Location: /wqmi3/moved.aspx\r\n"},
    WireRow{"oversize-length", "HTTP/1.1 200 ", "open", "Content-Length: 1048577\r\n"},
    WireRow{"oversize-open", "HTTP/1.1 200 ", "open", "Connection: close\r\n\r\n<Scr>", (1u << 20) + 1},
    WireRow{"at-cap", "HTTP/1.1 200 ", "closed whole", "Content-Length: 1048576\r\n", 1u << 20}));

}  // namespace
