#pragma once
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include "SimCertificates.h"
#include "SimConfig.h"
#include "SimService.h"

namespace httplib {
class Server;
struct Response;
}

namespace kovsim {

/// Receives each log line (one per request, merchant key masked), from any worker thread,
/// one call at a time.
using SimLogSink = std::function<void(const std::string& line)>;

/// The simulator's HTTP(S) server: the endpoint "/wqmi3/pos.aspx" and "GET /_sim/stats"
/// on a thread of its own, until stop() or destruction.
class SimServer {
 public:
  SimServer(SimConfig config, SimLogSink log);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  /// Writes the certificates (with tls), binds and starts serving. False with the reason
  /// in error when it cannot.
  bool start(std::string& error);
  /// Ends held requests, faults in play and open connections, and joins every thread.
  /// Idempotent.
  void stop();

  /// The bound port (the chosen one when the configured port was 0).
  int port() const { return _port; }
  /// "http(s)://HOST:PORT/wqmi3/pos.aspx".
  std::string url() const;
  /// The certificate files written at start (with tls).
  const std::optional<SimCertificateFiles>& certificates() const { return _certificates; }
  SimService& service() { return _service; }

  /// The path of the payment endpoint.
  static constexpr const char* kEndpointPath = "/wqmi3/pos.aspx";
  /// Worker threads; each open keep-alive connection and each held poll takes one.
  static constexpr std::size_t kWorkerThreads = 32;

 private:
  /// One accepted connection by its two ends.
  struct Peer {
    int localPort;
    std::string address;
    int port;
  };

  void installRoutes();
  void log(const std::string& line);
  /// Writes the reply, or plays its fault on the connection.
  void play(const Peer& peer, SimReply reply, httplib::Response& response);
  /// Waits ms unless the server stops first; false when it stopped.
  bool pause(int ms);
  void forgetBusy(const Peer& peer);

  SimConfig _config;
  SimLogSink _log;
  std::mutex _logLock;
  SimService _service;
  std::optional<SimCertificateFiles> _certificates;
  std::unique_ptr<httplib::Server> _http;
  std::thread _listener;
  std::mutex _doneLock;
  std::condition_variable _doneChanged;
  bool _listenerDone = false;
  int _port = 0;
  // Connections (peer address and port) with a request between its arrival and the end of
  // its answer; a stop lets them finish their answer before it ends them.
  std::mutex _busyLock;
  std::set<std::pair<std::string, int>> _busy;
  // Wakes the pauses of faults in play when the server stops.
  std::mutex _pauseLock;
  std::condition_variable _pauseWake;
  bool _stopping = false;
};

}  // namespace kovsim
