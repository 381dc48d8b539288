#pragma once
// A TCP relay on 127.0.0.1 between a client and a server, stamping the moment each piece of
// the server's answers is handed to the client's socket: when an answer reached the client, on
// the same clock as the benchmark's own reads.
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

namespace kovbench {

class BenchRelay {
 public:
  using Clock = std::chrono::steady_clock;

  /// Listens on 127.0.0.1 with a free port and relays each connection to 127.0.0.1:serverPort.
  explicit BenchRelay(int serverPort);
  ~BenchRelay();
  BenchRelay(const BenchRelay&) = delete;
  BenchRelay& operator=(const BenchRelay&) = delete;

  int port() const { return _port; }
  /// The last time a piece of an answer was handed to a client before `before`.
  Clock::time_point lastAnswerBefore(Clock::time_point before) const;

 private:
  void acceptLoop();
  void pump(int from, int to, bool answers);

  int _listener = -1;
  int _port = 0;
  std::atomic<bool> _stopping{false};
  std::thread _acceptor;
  mutable std::mutex _lock;
  std::vector<int> _sockets;
  std::vector<std::thread> _pumps;
  std::vector<Clock::time_point> _answers;
};

}  // namespace kovbench
