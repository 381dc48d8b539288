#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <KOVModule/WqXMLDocument.h>
#include <KOVModule/WqXMLNode.h>

#include "SimXml.h"

namespace simtest {
namespace {

std::shared_ptr<WqXMLDocument> skeleton(const std::string& txnRef, const std::string& user, const std::string& key) {
  auto document = WqXMLDocument::documentWithRootNode("Scr");
  auto root = document->getRootNode();
  root->addAttribute("action", "doScrKOV");
  root->addAttribute("user", user);
  root->addAttribute("key", key);
  root->addChildNode("TxnRef", txnRef);
  return document;
}

}  // namespace

std::string transactionRequest(const std::string& txnRef, const std::string& station, const std::string& merchantRef,
                               const std::string& txnType, const std::string& user, const std::string& key) {
  auto document = skeleton(txnRef, user, key);
  auto root = document->getRootNode();
  root->addChildNode("Station", station);
  root->addChildNode("Amount", std::string("12.50"));
  root->addChildNode("Cur", std::string("AUD"));
  root->addChildNode("TxnType", txnType);
  root->addChildNode("DeviceId", std::nullopt);
  root->addChildNode("PosName", std::string("Till"));
  root->addChildNode("PosVersion", std::nullopt);
  root->addChildNode("VendorId", std::nullopt);
  root->addChildNode("MRef", merchantRef);
  return document->toString();
}

std::string statusRequest(const std::string& txnRef, const std::string& station, const std::string& user,
                          const std::string& key) {
  auto document = skeleton(txnRef, user, key);
  auto root = document->getRootNode();
  root->addChildNode("Station", station);
  root->addChildNode("TxnType", std::string("Status"));
  return document->toString();
}

std::string buttonRequest(const std::string& txnRef, const std::string& name, const std::string& value,
                          const std::string& station) {
  auto document = skeleton(txnRef, "merchant", "s3cret");
  auto root = document->getRootNode();
  root->addChildNode("Station", station);
  root->addChildNode("TxnType", std::string("UI"));
  root->addChildNode("UiType", std::string("Bn"));
  root->addChildNode("Name", name);
  root->addChildNode("Val", value);
  return document->toString();
}

NSStringDictionary parse(const std::string& body) {
  NSStringDictionary dict;
  if (!kovsim::parseXml(body, dict)) {
    dict.clear();
  }
  return dict;
}

std::string at(const NSStringDictionary& dict, const std::string& key) {
  const auto found = dict.find(key);
  return found == dict.end() ? "<absent>" : found->second;
}

bool isComplete(const NSStringDictionary& dict) {
  return at(dict, "Scr/Complete") == "1" || at(dict, "Scr/Result/Complete") == "1";
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
  if (!result) {
    return std::nullopt;
  }
  return *result;
}

std::optional<httplib::Response> RunningSimulator::post(const std::string& body) {
  if (!_client) {
    _client = client();
  }
  return post(*_client, body);
}

NSStringDictionary RunningSimulator::pollToEnd(const std::string& txnRef, std::vector<std::string>* screens,
                                               int maxPolls) {
  for (int i = 0; i < maxPolls; ++i) {
    const auto answer = post(statusRequest(txnRef));
    if (!answer) {
      ADD_FAILURE() << "status request without answer";
      return {};
    }
    NSStringDictionary dict = parse(answer->body);
    if (isComplete(dict)) {
      return dict;
    }
    if (screens && (screens->empty() || screens->back() != at(dict, "Scr/DL1"))) {
      screens->push_back(at(dict, "Scr/DL1"));
    }
  }
  ADD_FAILURE() << "no final result after " << maxPolls << " polls";
  return {};
}

std::vector<std::string> RunningSimulator::logLines() {
  const std::lock_guard<std::mutex> guard(_logLock);
  return _log;
}

}  // namespace simtest
