#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "SimCertificates.h"
#include "SimConfig.h"
#include "SimService.h"

namespace kovsim {

/// Receives each log line (one per request, merchant key masked), from the server's
/// thread, one call at a time.
using SimLogSink = std::function<void(const std::string& line)>;

/// The simulator's HTTP(S) server: the endpoint "/wqmi3/pos.aspx" and "GET /_sim/stats",
/// event-driven (Boost.Beast over Asio) on one thread of its own, until stop() or
/// destruction. A kept-alive connection costs a socket and a held poll a timer entry; no
/// thread waits for either.
class SimServer {
 public:
  SimServer(SimConfig config, SimLogSink log);
  ~SimServer();
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  /// Writes the certificates (with tls), binds and starts serving. False with the reason
  /// in error when it cannot.
  bool start(std::string& error);
  /// Ends held requests (each gets its answer), faults in play and open connections, and
  /// joins the server's thread. Idempotent; callable from any other thread.
  void stop();

  /// The bound port (the chosen one when the configured port was 0).
  int port() const { return _port; }
  /// "http(s)://HOST:PORT/wqmi3/pos.aspx".
  std::string url() const;
  /// The certificate files written at start (with tls).
  const std::optional<SimCertificateFiles>& certificates() const { return _certificates; }
  SimService& service() { return _service; }
  /// The last request received, as it arrived on the connection: head and body, the key
  /// unmasked. Lets a test see exactly what a client put on the wire.
  std::string lastRequest() const;

  /// The path of the payment endpoint.
  static constexpr const char* kEndpointPath = "/wqmi3/pos.aspx";

 private:
  struct State;

  void log(const std::string& line);

  SimConfig _config;
  SimLogSink _log;
  std::mutex _logLock;
  std::optional<SimCertificateFiles> _certificates;
  int _port = 0;
  // The event loop, its thread and the connections; made by start(). Declared before the
  // service, so that answers the service still holds (and their connections) go first.
  std::unique_ptr<State> _state;
  SimService _service;
};

}  // namespace kovsim
