// The fault scenarios: their names, and what each one puts on the wire, read by a bare socket
// (the engine's own table shows how a client fares; this shows the fault is the one named).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <string>

#include "SimTestSupport.h"

using namespace simtest;
using kovsim::SimFault;
using kovsim::SimScenario;
using kovsim::SimTerminal;

namespace {

TEST(SimScenarioNames, NameTheTerminalOrAFaultWithWhereAndHowLongItLasts) {
  const std::vector<std::pair<std::string, SimScenario>> named{
      {"decline", {SimTerminal::Decline}},
      {"result-complete", {SimTerminal::ResultComplete}},
      {"stall", {SimTerminal::Approve, SimFault::Stall}},
      {"reset-body-first", {SimTerminal::Approve, SimFault::ResetBody, true}},
      {"bad-utf8-8", {SimTerminal::Approve, SimFault::BadUtf8, false, 8}},
      {"http404-first-1000", {SimTerminal::Approve, SimFault::Http404, true, 1000}},
  };
  for (const auto& [name, scenario] : named) {
    EXPECT_EQ(kovsim::scenarioFromName(name), scenario) << name;
    EXPECT_EQ(kovsim::scenarioName(scenario), name);
  }
  EXPECT_EQ(kovsim::scenarioFromName("drop"), (SimScenario{SimTerminal::Approve, SimFault::Close, true}));
  for (const char* wrong : {"Approve", "approve-first", "reset-0", "reset-08", "reset-1001", "refuse-8", "reset-first-first",
                            "-first", "reset-", "first"}) {
    EXPECT_FALSE(kovsim::scenarioFromName(wrong)) << wrong;
  }
  bool unknown = true;
  EXPECT_EQ(kovsim::scenarioFromMerchantRef("sim:cut-first", unknown), (SimScenario{SimTerminal::Approve, SimFault::Cut, true}));
  EXPECT_FALSE(unknown);
  EXPECT_FALSE(kovsim::scenarioFromMerchantRef("order 42", unknown));
  EXPECT_FALSE(unknown);
  EXPECT_FALSE(kovsim::scenarioFromMerchantRef("sim:nope", unknown));
  EXPECT_TRUE(unknown);
}

TEST(SimScenarioNames, RunsOfFaultsAlternateWithServedRequests) {
  // Request 0 is the transaction request.
  const auto pattern = [](const char* name) {
    std::string hits;
    for (std::uint64_t n = 0; n < 8; ++n) {
      hits += kovsim::scenarioFromName(name)->hits(n) ? 'x' : '.';
    }
    return hits;
  };
  EXPECT_EQ(pattern("close"), ".xxxxxxx");
  EXPECT_EQ(pattern("close-first"), "xxxxxxxx");
  EXPECT_EQ(pattern("close-2"), ".xx.xx.x");
  EXPECT_EQ(pattern("close-first-1"), "x.x.x.x.");
  EXPECT_EQ(pattern("approve"), "........");
}

enum class Ending { Closed, Reset, StillOpen };

struct Wire {
  std::string bytes;
  Ending ending = Ending::StillOpen;
};

int connectTo(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Posts body on a connection of its own and reads what comes until the connection ends or
// the wait is over.
Wire exchange(int port, const std::string& body, std::chrono::milliseconds wait) {
  Wire wire;
  const int fd = connectTo(port);
  EXPECT_GE(fd, 0);
  const std::string head = "POST /wqmi3/pos.aspx HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: text/xml\r\n"
                           "Connection: close\r\nContent-Length: " +
                           std::to_string(body.size()) + "\r\n\r\n";
  EXPECT_EQ(::send(fd, (head + body).data(), head.size() + body.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(head.size() + body.size()));
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    pollfd readable{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0) {
      break;
    }
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      wire.ending = n == 0 ? Ending::Closed : (errno == ECONNRESET ? Ending::Reset : Ending::StillOpen);
      break;
    }
    wire.bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return wire;
}

// An answer whose body is all there: as long as announced, or chunked to its last chunk.
bool whole(const std::string& bytes) {
  const std::size_t end = bytes.find("\r\n\r\n");
  if (end == std::string::npos) {
    return false;
  }
  const std::string head = bytes.substr(0, end);
  const std::size_t body = bytes.size() - end - 4;
  if (head.find("Transfer-Encoding: chunked") != std::string::npos) {
    return bytes.size() >= 5 && bytes.compare(bytes.size() - 5, 5, "0\r\n\r\n") == 0;
  }
  const std::size_t length = head.find("Content-Length: ");
  return length != std::string::npos && std::stoul(head.substr(length + 16)) == body;
}

struct WireCase {
  const char* scenario;
  const char* status;  // how the answer starts; "" for no answer at all
  Ending ending;
  bool whole;
  const char* holds = "";  // a text the answer holds
  std::size_t atLeast = 0;
};

void PrintTo(const WireCase& c, std::ostream* out) { *out << c.scenario; }

class SimFaultOnTheWire : public testing::TestWithParam<WireCase> {};

// The fault meets the first status request, sent once the transaction request had its screen.
TEST_P(SimFaultOnTheWire, IsWhatItsNameSays) {
  const WireCase& c = GetParam();
  kovsim::SimConfig config = fastConfig();
  config.speed = 0.01;  // the first screen stays
  config.tmoSeconds = 1;
  config.holdMs = 50;
  RunningSimulator sim(config);
  const int port = sim.server().port();
  const Wire first = exchange(port, transactionRequest("T-wire", std::string("sim:") + c.scenario), std::chrono::seconds(10));
  ASSERT_TRUE(whole(first.bytes)) << first.bytes;

  // Past the client's time-out of 1 s: a stall has sent nothing, a trickle not all.
  const Wire faulted = exchange(port, request("Status", "T-wire"), std::chrono::milliseconds(1500));
  EXPECT_EQ(faulted.bytes.substr(0, std::string(c.status).size()), c.status) << faulted.bytes.substr(0, 200);
  if (std::string(c.status).empty()) {
    EXPECT_EQ(faulted.bytes, "");
  }
  EXPECT_EQ(faulted.ending, c.ending);
  EXPECT_EQ(whole(faulted.bytes), c.whole);
  EXPECT_NE(faulted.bytes.find(c.holds), std::string::npos) << c.holds;
  EXPECT_GE(faulted.bytes.size(), c.atLeast);
  EXPECT_EQ(sim.server().service().stats().count("T-wire", "Status"), 1u);
  if (c.scenario == std::string("refuse")) {
    EXPECT_EQ(connectTo(port), -1);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SimFaultOnTheWire,
    testing::Values(WireCase{"close", "", Ending::Closed, false}, WireCase{"reset", "", Ending::Reset, false},
                    WireCase{"reset-body", "HTTP/1.1 200", Ending::Reset, false, "Transfer-Encoding: chunked"},
                    WireCase{"cut", "HTTP/1.1 200", Ending::Reset, false, "Content-Length: "},
                    WireCase{"stall", "", Ending::StillOpen, false},
                    WireCase{"trickle", "HTTP/1.1 200", Ending::StillOpen, false, "<Scr>"},
                    WireCase{"refuse", "", Ending::Closed, false},
                    WireCase{"http404", "HTTP/1.1 404", Ending::Closed, true, "Content-Length: 0\r\n"},
                    WireCase{"http502", "HTTP/1.1 502", Ending::Closed, true, "<h1>Bad Gateway</h1>"},
                    WireCase{"oversize", "HTTP/1.1 200", Ending::Closed, true, "<DL1>", 2u << 20},
                    WireCase{"http500", "HTTP/1.1 500", Ending::Closed, true, "<DL1>PRESENT/INSERT CARD</DL1>"}),
    [](const testing::TestParamInfo<WireCase>& info) {
      std::string name = info.param.scenario;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

}  // namespace
