// The service's refusals and what each scenario puts on the wire, read by a bare socket (how a
// client fares against them is the fault table's business; this shows a fault is the one named).
#include <gtest/gtest.h>
#include <httplib.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

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
  config.speed = 0.01;  // the first screen stays
  config.tmoSeconds = 1;
  config.holdMs = 50;
  config.stations = {"ST1", "ST2", "ST-OFF"};
  config.offline = {"ST-OFF"};
  return config;
}

std::string refused(const char* code, const char* text) {
  return std::string("<Scr><Complete>1</Complete><DL1>ERROR</DL1><DL2>") + text + "</DL2><Result><AP>0</AP><RC>" +
         code + "</RC><RT>" + text + "</RT></Result></Scr>";
}

TEST(SimService, StartsOnceRefusesWhatItCannotServeAndSaysWhatItDid) {
  SimService service(slowConfig());
  const auto answer = [&](const std::string& body) {
    const SimReply reply = service.handle(body);
    return std::to_string(reply.status) + " " + reply.summary + "\n" + reply.body;
  };
  const std::string cardScreen = "<Scr><Complete>0</Complete><DL1>PRESENT/INSERT CARD</DL1><DL2>PURCHASE       AUD "
                                 "12.50</DL2><B1 en=\"1\">CANCEL</B1><B2 en=\"0\"></B2><Tmo>1</Tmo></Scr>";
  EXPECT_EQ(answer(request("Purchase", "T1", "ST1", "<MRef>sim:nope</MRef>")),
            "200 started (approve, unknown scenario \"sim:nope\"), screen \"PRESENT/INSERT CARD\"\n" + cardScreen);
  EXPECT_EQ(answer(request("Purchase", "T1")), "200 repeated, screen \"PRESENT/INSERT CARD\"\n" + cardScreen);
  EXPECT_EQ(answer(request("Purchase", "T2", "ST1")), "200 refused RC=pc \"TERMINAL BUSY\"\n" + refused("pc", "TERMINAL BUSY"));
  const std::vector<std::pair<std::string, std::string>> refusals{
      {request("Purchase", "T2", "ST2", "", "nope"), refused("p8", "INVALID USER OR KEY")},
      {request("Status", "T1", "ST1", "", ""), refused("p8", "INVALID USER OR KEY")},
      {request("Sale", "T2", "ST2"), refused("p7", "INVALID TRANSACTION TYPE")},
      {request("Purchase", "T2", "ST9"), refused("p9", "INVALID STATION")},
      {request("Purchase", "T2", ""), refused("p9", "INVALID STATION")},
      {request("Purchase", "", "ST2"), refused("pd", "MISSING TXNREF")},
      {request("Purchase", "T2", "ST-OFF"), refused("tq", "TERMINAL NOT CONNECTED")},
      {request("Status", "T-never"), refused("pn", "TRANSACTION NOT FOUND")},
      {request("UI", "T1", "ST2"), refused("pn", "TRANSACTION NOT FOUND")},
  };
  for (const auto& [body, expected] : refusals) EXPECT_EQ(service.handle(body).body, expected) << body;
  for (const char* bad : {"not xml", "<Other/>", "<Scr action=\"other\" user=\"merchant\" key=\"s3cret\"/>",
                          "<!DOCTYPE Scr><Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"/>"}) {
    EXPECT_EQ(service.handle(bad).status, 400) << bad;
  }
  EXPECT_EQ(answer(request("UI", "T1", "ST1", "<UiType>Bn</UiType><Name>B1</Name><Val>CANCEL</Val>")).substr(0, 67),
            "200 pressed B1 \"CANCEL\", result AP=0 RC=TC \"CANCELLED\"\n<Scr><Complete>1");
  EXPECT_EQ(service.handle(request("Purchase", "T2", "ST1")).summary.substr(0, 18), "started (approve),");
  EXPECT_EQ(service.stats().toJson(), "{\"connections\":0,\"requests\":19,\"transactions\":{\"T-never\":{\"Status\":1,"
                                      "\"UI\":0},\"T1\":{\"Purchase\":2,\"Status\":1,\"UI\":2},\"T2\":{\"Purchase\":7,"
                                      "\"Sale\":1,\"Status\":0,\"UI\":0}}}");
}

// How a connection ended, read until it ends or the wait is over: "closed", "reset" or "open".
std::pair<std::string, std::string> exchange(int port, const std::string& body, int waitMs) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string bytes = "POST /wqmi3/pos.aspx HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: " +
                      std::to_string(body.size()) + "\r\n\r\n" + body;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size())) {
    ::close(fd);
    return {"", "refused"};
  }
  bytes.clear();
  std::string ending = "open";
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (pollfd readable{fd, POLLIN, 0}; ::poll(&readable, 1, static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count())) > 0;) {
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      ending = n == 0 ? "closed" : errno == ECONNRESET ? "reset" : "error";
      break;
    }
    bytes.append(buffer, static_cast<std::size_t>(n));
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

struct WireRow {
  const char* scenario;
  const char* start;  // how the answer starts; "" for no answer at all
  const char* ending;
  bool whole;
  std::string holds;  // a text the answer holds
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
  const auto first = exchange(server.port(), request("Purchase", "T", "ST1", std::string("<MRef>sim:") + row.scenario + "</MRef>"), 10000);
  ASSERT_TRUE(whole(first.first)) << first.first;
  // Past the client's time-out of 1 s: a stall has sent nothing, a trickle not all.
  const auto [bytes, ending] = exchange(server.port(), request("Status", "T"), 1500);
  EXPECT_EQ(bytes.substr(0, std::string(row.start).size() + 1), std::string(row.start) + (*row.start ? " " : ""));
  EXPECT_EQ(ending, row.ending);
  EXPECT_EQ(whole(bytes), row.whole);
  EXPECT_NE(bytes.find(row.holds), std::string::npos) << row.holds;
  EXPECT_GE(bytes.size(), row.atLeast);
  EXPECT_EQ(server.service().stats().toJson(),
            "{\"connections\":2,\"requests\":2,\"transactions\":{\"T\":{\"Purchase\":1,\"Status\":1,\"UI\":0}}}");
  EXPECT_EQ(exchange(server.port(), "", 1000).second, row.scenario == std::string("refuse") ? "refused" : "closed");
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimFaultOnTheWire,
    testing::Values(WireRow{"approve", "HTTP/1.1 200", "closed", true, "<DL1>PRESENT/INSERT CARD</DL1>"},
                    WireRow{"close", "", "closed", false, ""}, WireRow{"reset", "", "reset", false, ""},
                    WireRow{"reset-body", "HTTP/1.1 200", "reset", false, "Transfer-Encoding: chunked"},
                    WireRow{"cut", "HTTP/1.1 200", "reset", false, "Content-Length: "},
                    WireRow{"stall", "", "open", false, ""}, WireRow{"trickle", "HTTP/1.1 200", "open", false, "<Scr>"},
                    WireRow{"refuse", "", "closed", false, ""},
                    WireRow{"http404", "HTTP/1.1 404", "closed", true, "Content-Length: 0\r\n"},
                    WireRow{"http502", "HTTP/1.1 502", "closed", true, "<h1>Bad Gateway</h1>"},
                    WireRow{"oversize", "HTTP/1.1 200", "closed", true, "<DL1>", 2u << 20},
                    WireRow{"http500", "HTTP/1.1 500", "closed", true, "<DL1>PRESENT/INSERT CARD</DL1>"},
                    WireRow{"garbage", "HTTP/1.1 200", "closed", true, "\r\n\r\n<<<Scr not xml"},
                    WireRow{"truncated", "HTTP/1.1 200", "closed", true, "<DL1>TRUNCATED</DL1><DL2>ANSWER CU"},
                    WireRow{"empty", "HTTP/1.1 200", "closed", true, "Content-Length: 0\r\n"},
                    WireRow{"bad-utf8", "HTTP/1.1 200", "closed", true, "<DL1>BAD\xff\xfe UTF-8</DL1>"},
                    WireRow{"deep", "HTTP/1.1 200", "closed", true, "<DL1>DEEP</DL1><a><a>", 700000},
                    WireRow{"doctype", "HTTP/1.1 200", "closed", true, "<!ENTITY file SYSTEM \"file:///etc/passwd\">"},
                    WireRow{"odd-tmo", "HTTP/1.1 200", "closed", true, "<Tmo>0</Tmo>"}),
    [](const testing::TestParamInfo<WireRow>& info) {
      std::string name = info.param.scenario;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

// The written CA is trusted for the address and the name; --tls-old speaks TLS 1.1 and nothing newer.
TEST(SimTls, TheWrittenCaServesTheAddressAndTheNameAndOldTlsOnlyOldClients) {
  const auto dir = std::filesystem::temp_directory_path() / ("kov-sim-tls-" + std::to_string(::getpid()));
  for (const bool oldServer : {false, true}) {
    SimConfig config = slowConfig();
    config.tls = true;
    config.oldTls = oldServer;
    config.certDir = (dir / "certs").string();  // created when missing
    SimServer server(config, nullptr);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;
    struct stat key {};
    ASSERT_EQ(::stat((dir / "certs" / "server-key.pem").c_str(), &key), 0);
    EXPECT_EQ(key.st_mode & 0777, 0600u);
    for (const bool oldClient : {false, true}) {
      for (const char* host : {"127.0.0.1", "localhost"}) {
        httplib::SSLClient client(host, server.port());
        client.set_ca_cert_path((dir / "certs" / "ca.pem").c_str());
        client.enable_server_certificate_verification(true);
        if (oldClient) {
          SSL_CTX_set_security_level(client.ssl_context(), 0);
          SSL_CTX_set_max_proto_version(client.ssl_context(), TLS1_1_VERSION);
        }
        EXPECT_EQ(static_cast<bool>(client.Get("/_sim/stats")), oldClient == oldServer) << host << oldClient;
      }
    }
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
