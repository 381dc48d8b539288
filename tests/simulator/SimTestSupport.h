#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>

#include <KOVModule/NSStringDictionary.h>

#include "SimServer.h"

namespace simtest {

/// The request documents as the client library writes them.
std::string transactionRequest(const std::string& txnRef, const std::string& station = "ST1",
                               const std::string& merchantRef = "", const std::string& txnType = "Purchase",
                               const std::string& user = "merchant", const std::string& key = "s3cret");
std::string statusRequest(const std::string& txnRef, const std::string& station = "ST1",
                          const std::string& user = "merchant", const std::string& key = "s3cret");
std::string buttonRequest(const std::string& txnRef, const std::string& name, const std::string& value,
                          const std::string& station = "ST1");

/// The answer's path dictionary (empty when the body is not XML).
NSStringDictionary parse(const std::string& body);
/// The value under key, or "<absent>".
std::string at(const NSStringDictionary& dict, const std::string& key);
bool isComplete(const NSStringDictionary& dict);

/// A configuration for fast tests: loopback, a port the system picks, a quick clock.
kovsim::SimConfig fastConfig();

/// A simulator running in this process, its log lines kept.
class RunningSimulator {
 public:
  explicit RunningSimulator(kovsim::SimConfig config = fastConfig());
  ~RunningSimulator();

  kovsim::SimServer& server() { return *_server; }
  int port() const { return _server->port(); }
  /// A new plain-http client for the server (keep-alive on).
  std::unique_ptr<httplib::Client> client() const;
  /// Posts a document to the endpoint; nullopt when no answer came.
  std::optional<httplib::Response> post(httplib::Client& client, const std::string& body) const;
  std::optional<httplib::Response> post(const std::string& body);

  /// Polls the status until the answer is complete (at most maxPolls polls); the first
  /// lines of every unfinished screen seen go to screens.
  NSStringDictionary pollToEnd(const std::string& txnRef, std::vector<std::string>* screens = nullptr,
                               int maxPolls = 50);

  std::vector<std::string> logLines();

 private:
  std::mutex _logLock;
  std::vector<std::string> _log;
  std::unique_ptr<kovsim::SimServer> _server;
  std::unique_ptr<httplib::Client> _client;
};

}  // namespace simtest
