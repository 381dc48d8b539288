#pragma once
// kov-bridge as the benchmark starts it: a folder of its own (key, token, journal), listening
// on 127.0.0.1 with a free port, and asked over plain sockets as a page would, so that the
// arrival of each event's bytes is read on the benchmark's clock with nothing in between.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "BenchChild.h"

namespace kovbench {

class BenchBridge {
 public:
  using Clock = std::chrono::steady_clock;

  struct Reply {
    int status = 0;
    std::string body;
  };
  /// One Server-Sent Event, stamped when the read that completed it returned.
  struct Event {
    std::string name;
    std::string data;
    Clock::time_point at;
  };

  /// Starts program against endpoint as merchant "merchant" (key s3cret, the simulator's
  /// default) on the station.
  BenchBridge(const std::string& program, const std::string& endpoint, const std::string& station);
  ~BenchBridge();
  BenchBridge(const BenchBridge&) = delete;
  BenchBridge& operator=(const BenchBridge&) = delete;

  bool running() const { return _port > 0; }
  BenchChild& process() { return *_child; }

  /// One request, the connection closed after its answer.
  Reply call(const std::string& method, const std::string& path, const std::string& body = "") const;
  /// POST /v1/transactions: a purchase of 12.50 AUD.
  Reply purchase(const std::string& txnRef) const;
  /// The transaction's event stream, read until it ends (after the result, or when the bridge stops).
  std::vector<Event> events(const std::string& txnRef) const;

 private:
  int connect() const;

  std::string _dir;
  std::unique_ptr<BenchChild> _child;
  int _port = 0;
  std::string _token;
};

}  // namespace kovbench
