#pragma once
// kov-simulator's server in this process, on 127.0.0.1 with a port the system picks.
#include <QTemporaryDir>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "SimServer.h"

namespace kovrel {

class LoopbackSimulator {
 public:
  /// Serves with config (its host, port, key and certificate folder are set here); with
  /// tls, a fresh test CA is written to a temporary folder.
  explicit LoopbackSimulator(kovsim::SimConfig config);
  ~LoopbackSimulator();

  bool running() const { return _server->port() > 0; }
  std::string url() const { return _server->url(); }
  /// The test CA to trust (tls only).
  std::string caFile() const;
  /// Requests of every type that reached the service for the TxnRef.
  std::uint64_t received(const std::string& txnRef);
  std::vector<std::string> logLines();

 private:
  QTemporaryDir _certDir;
  std::mutex _logLock;
  std::vector<std::string> _log;
  std::unique_ptr<kovsim::SimServer> _server;
};

/// The configuration the tests start from: the tests' key, a clock at the given speed and a
/// poll time-out of 1 s.
kovsim::SimConfig quickConfig(double speed);

}  // namespace kovrel
