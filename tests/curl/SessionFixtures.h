#pragma once
// What a curl session is tested against, whichever loop drives it: kov-simulator's server in
// this process, a bare server that reads late, the documents posted and the completions kept;
// and the rows of the cases every loop runs (SessionCases.cpp).
#include <KOVModule/KOVURLSession.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "SimServer.h"

namespace kovtest {

// The key as the documents below carry it, escaped for XML.
inline constexpr const char* kKey = "k3y&<\"s%2F";
inline constexpr const char* kEscapedKey = "k3y&amp;&lt;&quot;s%2F";

inline int openFiles() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<int>(std::distance(std::filesystem::begin(fds), std::filesystem::end(fds)));
}

// The simulator on 127.0.0.1 at a port the system picks, with a poll time-out of 1 s; with tls,
// its test CA goes to a folder of its own, removed with it.
struct Loopback {
  explicit Loopback(bool tls = false)
      : server(kovsim::SimConfig{.port = 0, .tls = tls, .certDir = certDir, .scenario = {}, .tmoSeconds = 1,
                                 .key = kKey, .stations = {}, .offline = {}},
               nullptr) {
    std::string error;
    EXPECT_TRUE(server.start(error)) << "the simulator did not start: " << error;
  }
  ~Loopback() { std::filesystem::remove_all(certDir); }
  Loopback(const Loopback&) = delete;
  Loopback& operator=(const Loopback&) = delete;
  // Requests of every type that reached the service for the TxnRef.
  std::uint64_t received(const std::string& txnRef) {
    const kovsim::SimStats& stats = server.service().stats();
    return stats.count(txnRef, "Purchase") + stats.count(txnRef, "Status") + stats.count(txnRef, "UI");
  }

  const std::string certDir = testing::TempDir() + "kov-curl-ca-" + std::to_string(::getpid());
  kovsim::SimServer server;
};

inline std::string purchase(const std::string& txnRef, const std::string& scenario) {
  return std::string("<Scr action=\"doScrKOV\" user=\"merchant\" key=\"") + kEscapedKey +
         "\"><TxnType>Purchase</TxnType><TxnRef>" + txnRef + "</TxnRef><Station>S1</Station><MRef>sim:" + scenario +
         "</MRef></Scr>";
}

struct Completion {
  std::optional<std::string> data;
  std::optional<KOVURLResponse> response;
  std::optional<KOVError> error;
};

// A session's completions in arrival order; shared with the handlers, since one may come
// after its test.
struct Record {
  std::vector<Completion> calls;
  bool inside = false;  // set around session calls: no completion may run from inside one
  bool ranInside = false;
};

// A session on the loop of the test binary, and its completions.
struct Client {
  std::unique_ptr<KOVURLSession> session;
  // Runs the session's loop until done() holds or the deadline passes; true if it held.
  std::function<bool(const std::function<bool()>& done, int deadlineMs)> runFor;
  std::shared_ptr<Record> record = std::make_shared<Record>();

  ResponseHandler handler() const {
    return [record = record](const auto& data, const auto& response, const auto& error) {
      record->ranInside = record->ranInside || record->inside;
      record->calls.push_back({data, response, error});
    };
  }
  bool runUntil(const std::function<bool()>& done) const { return runFor(done, 10000); }
  bool waitFor(std::size_t n) const { return runUntil([this, n] { return record->calls.size() >= n; }); }
};

// Defined by each test binary, for the loop it drives its sessions with.
Client makeClient();

// A server on 127.0.0.1 that starts reading 300 ms late, reads one request with a body of
// bodySize bytes and answers "ok". With fullBacklog its listen queue is full until then: a
// connection is made only when its SYN is sent again, a second later. Writing to it must wait
// either way. The session that posts to it goes first: a transfer still stalled ends with it,
// and this server's thread then ends too.
class LateReader {
 public:
  LateReader(bool fullBacklog, std::size_t bodySize) {
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    EXPECT_EQ(::bind(_listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    EXPECT_EQ(::listen(_listener, 0), 0);  // one connection waits in the queue, the next is dropped
    ::getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length);
    authority = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    if (fullBacklog) ::connect(_blocker, reinterpret_cast<sockaddr*>(&address), length);
    _server = std::thread([listener = _listener, fullBacklog, bodySize] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      if (fullBacklog) ::close(::accept(listener, nullptr, nullptr));
      const int line = ::accept(listener, nullptr, nullptr);
      if (line < 0) return;  // the client gave up before its connection was made
      std::string request;
      std::vector<char> chunk(1 << 16);
      std::size_t head = std::string::npos;
      for (ssize_t n; (head == std::string::npos || request.size() < head + 4 + bodySize) &&
                      (n = ::read(line, chunk.data(), chunk.size())) > 0;) {
        request.append(chunk.data(), std::size_t(n));
        head = request.find("\r\n\r\n");
      }
      const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
      EXPECT_EQ(::write(line, answer.data(), answer.size()), ssize_t(answer.size()));
      ::close(line);
    });
  }
  ~LateReader() {
    ::shutdown(_listener, SHUT_RDWR);  // a server still waiting to accept gives up
    _server.join();
    for (const int fd : {_listener, _blocker}) ::close(fd);
  }
  LateReader(const LateReader&) = delete;
  LateReader& operator=(const LateReader&) = delete;

  std::string url() const { return "http://" + authority + "/wqmi3/pos.aspx"; }

  std::string authority;  // HOST:PORT, as the session's errors name it

 private:
  int _listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int _blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  std::thread _server;
};

// The rows of the write-readiness tables, whichever loop drives the session: a body larger
// than the socket buffers, a full listen queue, and one whose connect a short time-out ends.
struct WaitingWrite {
  const char* name;
  bool fullBacklog;  // else a body larger than the socket buffers
  double timeoutSeconds = 60.0;
};

inline const auto kWaitingWrites =
    testing::Values(WaitingWrite{.name = "large_body", .fullBacklog = false},
                    WaitingWrite{.name = "full_backlog", .fullBacklog = true},
                    WaitingWrite{.name = "full_backlog_timed_out", .fullBacklog = true, .timeoutSeconds = 0.4});
class WriteReadiness : public testing::TestWithParam<WaitingWrite> {};

// Requests ended by the session's user, on the wire (held by the service) or before leaving.
enum class Ending { Cancel, Invalidate, Destroy };
struct EndedCase {
  const char* name;
  Ending ending;
  bool held;  // the service holds the requests (else they end right after posting)
};

inline const auto kEndings = testing::Values(EndedCase{"cancel_on_the_wire", Ending::Cancel, true},
                                             EndedCase{"invalidate_on_the_wire", Ending::Invalidate, true},
                                             EndedCase{"destroy_on_the_wire", Ending::Destroy, true},
                                             EndedCase{"cancel_before_leaving", Ending::Cancel, false},
                                             EndedCase{"invalidate_before_leaving", Ending::Invalidate, false});
class EndedRequests : public testing::TestWithParam<EndedCase> {};

inline const auto byName = [](const auto& info) { return std::string(info.param.name); };

}  // namespace kovtest
