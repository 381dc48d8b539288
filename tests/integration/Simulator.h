#pragma once
// The bundled simulator and kov-cli, run as programs for end-to-end tests.
#include <nlohmann/json.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace kovit {

/// kov-simulator on 127.0.0.1 with a port of the system's choosing.
class Simulator {
 public:
  /// Starts it with the extra options; with tls, a fresh CA is written to a temporary folder.
  explicit Simulator(std::vector<std::string> extraArgs, bool tls = false);
  ~Simulator();
  bool running() const { return !url_.empty(); }
  /// The service URL (".../wqmi3/pos.aspx").
  const std::string& url() const { return url_; }
  /// The test CA's PEM file (tls only).
  std::string caFile() const { return certDir_ + "/ca.pem"; }
  /// The "/_sim/stats" document.
  nlohmann::json stats() const;
  /// Requests of one type ("Purchase", "Status", "UI") the simulator saw for a TxnRef.
  int requests(const std::string& txnRef, const std::string& type) const;
  int connections() const;
  ChildProcess& process() { return *process_; }

 private:
  std::unique_ptr<ChildProcess> process_;
  std::string url_, host_, certDir_;
  int port_ = 0;
  bool tls_ = false;
};

/// What one kov-cli run printed.
struct CliOutcome {
  std::optional<int> exitCode;
  nlohmann::json result;  // null when stdout had no result line
  std::vector<nlohmann::json> stderrJson;
  std::string stderrText;

  bool hasStderr(const std::string& key, const nlohmann::json& value) const;
  /// The states of the screen updates, in order.
  std::vector<int> states() const;
};

/// Runs kov-cli to its end with the arguments (after the program name).
CliOutcome runCli(const std::vector<std::string>& args, std::chrono::milliseconds timeout = std::chrono::seconds(60));
/// Reads a started kov-cli to its end.
CliOutcome finishCli(ChildProcess& cli, std::chrono::milliseconds timeout = std::chrono::seconds(60));
/// The options of a purchase of 12.50 AUD against the simulator with the right credentials.
std::vector<std::string> purchaseArgs(const Simulator& sim, const std::string& txnRef,
                                      std::vector<std::string> more = {});

}  // namespace kovit
