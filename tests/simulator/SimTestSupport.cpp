#include "SimTestSupport.h"

#include <gtest/gtest.h>

namespace simtest {

std::string request(const std::string& txnType, const std::string& txnRef, const std::string& station,
                    const std::string& more, const std::string& key) {
  return "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"" + key + "\"><TxnRef>" + txnRef + "</TxnRef><Station>" +
         station + "</Station><TxnType>" + txnType + "</TxnType>" + more + "</Scr>";
}

std::string transactionRequest(const std::string& txnRef, const std::string& merchantRef) {
  return request("Purchase", txnRef, "ST1", "<Amount>12.50</Amount><Cur>AUD</Cur><MRef>" + merchantRef + "</MRef>");
}

std::string buttonRequest(const std::string& txnRef, const std::string& name) {
  return request("UI", txnRef, "ST1", "<UiType>Bn</UiType><Name>" + name + "</Name><Val>" + name + "</Val>");
}

kovsim::SimKeys parse(const std::string& body) {
  kovsim::SimKeys keys;
  if (!kovsim::parseXml(body, keys)) {
    keys.clear();
  }
  return keys;
}

std::string at(const kovsim::SimKeys& keys, const std::string& key) {
  const auto found = keys.find(key);
  return found == keys.end() ? "<absent>" : found->second;
}

kovsim::SimConfig fastConfig() {
  kovsim::SimConfig config;
  config.port = 0;
  config.speed = 20;  // the card screen lasts 100 ms, the whole approve run 300 ms
  config.tmoSeconds = 2;
  config.holdMs = 1000;
  return config;
}

RunningSimulator::RunningSimulator(kovsim::SimConfig config) {
  _server = std::make_unique<kovsim::SimServer>(std::move(config), [this](const std::string& line) {
    const std::lock_guard<std::mutex> guard(_logLock);
    _log.push_back(line);
  });
  std::string error;
  if (!_server->start(error)) {
    ADD_FAILURE() << "simulator did not start: " << error;
  }
}

RunningSimulator::~RunningSimulator() {
  _client.reset();
  _server->stop();
}

std::unique_ptr<httplib::Client> RunningSimulator::client() const {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", _server->port());
  client->set_keep_alive(true);
  client->set_read_timeout(10, 0);
  return client;
}

std::optional<httplib::Response> RunningSimulator::post(httplib::Client& client, const std::string& body) const {
  httplib::Result result = client.Post(kovsim::SimServer::kEndpointPath, body, "text/xml");
  return result ? std::optional<httplib::Response>(*result) : std::nullopt;
}

std::optional<httplib::Response> RunningSimulator::post(const std::string& body) {
  if (!_client) {
    _client = client();
  }
  return post(*_client, body);
}

kovsim::SimKeys RunningSimulator::status(const std::string& txnRef, const std::string& station) {
  const auto answer = post(request("Status", txnRef, station));
  return answer ? parse(answer->body) : kovsim::SimKeys{};
}

kovsim::SimKeys RunningSimulator::pollToEnd(const std::string& txnRef) {
  for (int i = 0; i < 50; ++i) {
    const kovsim::SimKeys keys = status(txnRef);
    if (at(keys, "Scr/Complete") == "1" || at(keys, "Scr/Result/Complete") == "1") {
      return keys;
    }
  }
  ADD_FAILURE() << "no final result after 50 polls";
  return {};
}

std::vector<std::string> RunningSimulator::logLines() {
  const std::lock_guard<std::mutex> guard(_logLock);
  return _log;
}

}  // namespace simtest
