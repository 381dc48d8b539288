#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <httplib.h>

#include "SimServer.h"
#include "SimXml.h"

namespace simtest {

/// A request document as the client writes it, with more elements after TxnType.
std::string request(const std::string& txnType, const std::string& txnRef, const std::string& station = "ST1",
                    const std::string& more = "", const std::string& key = "s3cret");
std::string transactionRequest(const std::string& txnRef, const std::string& merchantRef = "");
std::string buttonRequest(const std::string& txnRef, const std::string& name);

/// The answer's keys (none when the body is not XML).
kovsim::SimKeys parse(const std::string& body);
/// The value under key, or "<absent>".
std::string at(const kovsim::SimKeys& keys, const std::string& key);

/// A configuration for fast tests: loopback, a port the system picks, a quick clock.
kovsim::SimConfig fastConfig();

/// A simulator running in this process, its log lines kept.
class RunningSimulator {
 public:
  explicit RunningSimulator(kovsim::SimConfig config = fastConfig());
  ~RunningSimulator();

  kovsim::SimServer& server() { return *_server; }
  /// A new plain-http client for the server (keep-alive on).
  std::unique_ptr<httplib::Client> client() const;
  /// Posts a document on the given client (or one kept for these calls); nullopt when no
  /// answer came.
  std::optional<httplib::Response> post(httplib::Client& client, const std::string& body) const;
  std::optional<httplib::Response> post(const std::string& body);
  /// The keys of the answer to a status request (none when no answer came).
  kovsim::SimKeys status(const std::string& txnRef, const std::string& station = "ST1");
  /// Polls until the answer is complete.
  kovsim::SimKeys pollToEnd(const std::string& txnRef);
  std::vector<std::string> logLines();

 private:
  std::mutex _logLock;
  std::vector<std::string> _log;
  std::unique_ptr<kovsim::SimServer> _server;
  std::unique_ptr<httplib::Client> _client;
};

}  // namespace simtest
