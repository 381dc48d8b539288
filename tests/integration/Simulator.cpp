#include "Simulator.h"

#include <httplib.h>

#include <QDir>
#include <QTemporaryDir>

#include <regex>

namespace kovit {

namespace {

std::string tempCertDir() {
  QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/kov-it-XXXXXX"));
  dir.setAutoRemove(false);
  return dir.path().toStdString();
}

}  // namespace

Simulator::Simulator(std::vector<std::string> extraArgs, bool tls) : tls_(tls) {
  std::vector<std::string> args{"--listen", "127.0.0.1:0"};
  if (tls) {
    certDir_ = tempCertDir();
    args.insert(args.end(), {"--tls", "--cert-dir", certDir_});
  }
  args.insert(args.end(), extraArgs.begin(), extraArgs.end());
  process_ = std::make_unique<ChildProcess>(KOV_SIMULATOR_PATH, args);
  const auto line = process_->nextStdoutLine(std::chrono::seconds(20));
  static const std::regex listening(R"(^kov-simulator listening on (https?)://([0-9.]+):([0-9]+)(/wqmi3/pos\.aspx)$)");
  std::smatch m;
  if (line && std::regex_match(*line, m, listening)) {
    host_ = m[2];
    port_ = std::stoi(m[3]);
    url_ = std::string(m[1]) + "://" + host_ + ":" + std::string(m[3]) + std::string(m[4]);
  }
}

Simulator::~Simulator() {
  process_->terminate();
  process_->waitForExit(std::chrono::seconds(10));
  if (!certDir_.empty()) QDir(QString::fromStdString(certDir_)).removeRecursively();
}

nlohmann::json Simulator::stats() const {
  auto parse = [](const httplib::Result& res) -> nlohmann::json {
    if (!res || res->status != 200) return nullptr;
    return nlohmann::json::parse(res->body, nullptr, false);
  };
  if (tls_) {
    httplib::SSLClient client(host_, port_);
    client.set_ca_cert_path(caFile().c_str());
    client.enable_server_certificate_verification(true);
    return parse(client.Get("/_sim/stats"));
  }
  httplib::Client client(host_, port_);
  return parse(client.Get("/_sim/stats"));
}

int Simulator::requests(const std::string& txnRef, const std::string& type) const {
  const auto s = stats();
  if (!s.is_object() || !s.contains("transactions") || !s["transactions"].contains(txnRef)) return 0;
  return s["transactions"][txnRef].value(type, 0);
}

int Simulator::connections() const {
  const auto s = stats();
  return s.is_object() ? s.value("connections", -1) : -1;
}

bool CliOutcome::hasStderr(const std::string& key, const nlohmann::json& value) const {
  for (const auto& j : stderrJson) {
    if (j.is_object() && j.contains(key) && j[key] == value) return true;
  }
  return false;
}

std::vector<int> CliOutcome::states() const {
  std::vector<int> out;
  for (const auto& j : stderrJson) {
    if (j.is_object() && j.contains("state")) out.push_back(j["state"].get<int>());
  }
  return out;
}

CliOutcome finishCli(ChildProcess& cli, std::chrono::milliseconds timeout) {
  CliOutcome outcome;
  outcome.exitCode = cli.waitForExit(timeout);
  if (!cli.stdoutLines().empty()) {
    outcome.result = nlohmann::json::parse(cli.stdoutLines().back(), nullptr, false);
  }
  for (const auto& line : cli.stderrLines()) {
    outcome.stderrJson.push_back(nlohmann::json::parse(line, nullptr, false));
  }
  outcome.stderrText = cli.allStderr();
  return outcome;
}

CliOutcome runCli(const std::vector<std::string>& args, std::chrono::milliseconds timeout) {
  ChildProcess cli(KOV_CLI_PATH, args);
  cli.closeStdin();
  return finishCli(cli, timeout);
}

std::vector<std::string> purchaseArgs(const Simulator& sim, const std::string& txnRef, std::vector<std::string> more) {
  // A station of its own per transaction: a station busy with an earlier test's
  // transaction would answer "pc".
  std::vector<std::string> args{"purchase", "--user",   "merchant", "--key",      "s3cret", "--station",
                                txnRef,     "--txn-ref", txnRef,    "--amount",   "12.50",  "--currency",
                                "AUD",      "--endpoint", sim.url()};
  args.insert(args.end(), more.begin(), more.end());
  return args;
}

}  // namespace kovit
