#include "LoopbackSimulator.h"

#include <gtest/gtest.h>

#include "EngineRun.h"

namespace kovrel {

kovsim::SimConfig quickConfig(double speed) {
  kovsim::SimConfig config;
  config.speed = speed;
  config.tmoSeconds = 1;
  return config;
}

LoopbackSimulator::LoopbackSimulator(kovsim::SimConfig config) {
  config.host = "127.0.0.1";
  config.port = 0;
  config.key = kTestKey;
  config.certDir = _certDir.path().toStdString();
  _server = std::make_unique<kovsim::SimServer>(std::move(config), [this](const std::string& line) {
    const std::lock_guard<std::mutex> guard(_logLock);
    _log.push_back(line);
  });
  std::string error;
  if (!_server->start(error)) {
    ADD_FAILURE() << "the simulator did not start: " << error;
  }
}

LoopbackSimulator::~LoopbackSimulator() { _server->stop(); }

std::string LoopbackSimulator::caFile() const {
  return _server->certificates() ? _server->certificates()->caCertificate : std::string();
}

std::uint64_t LoopbackSimulator::received(const std::string& txnRef) {
  kovsim::SimStats& stats = _server->service().stats();
  return stats.count(txnRef, "Purchase") + stats.count(txnRef, "Status") + stats.count(txnRef, "UI");
}

std::vector<std::string> LoopbackSimulator::logLines() {
  const std::lock_guard<std::mutex> guard(_logLock);
  return _log;
}

}  // namespace kovrel
