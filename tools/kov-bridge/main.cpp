// kov-bridge: serves the payment engine to the till's web page on a local HTTP interface.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/KOVEndpointPolicy.h>
#include <KOVModule/KOVSqliteJournal.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "BridgeDispatcher.h"
#include "BridgeGuard.h"
#include "BridgeLog.h"
#include "BridgeLoopDriver.h"
#include "BridgeMetrics.h"
#include "BridgeOptions.h"
#include "BridgeSecrets.h"
#include "BridgeServer.h"
#include "BridgeTill.h"

using namespace kovbridge;

namespace {

int usage(const std::string& message) {
  logLine(message + " (see kov-bridge --help)");
  return 2;
}

template <class T>
const BridgeSecretError* failed(const std::variant<T, BridgeSecretError>& read) {
  return std::get_if<BridgeSecretError>(&read);
}

}  // namespace

int main(int argc, char** argv) {
  // A page gone mid-answer fails the write instead of ending the bridge.
  std::signal(SIGPIPE, SIG_IGN);
  const auto parsed = parseBridgeOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (const auto* error = std::get_if<BridgeUsageError>(&parsed)) return usage(error->message);
  const BridgeOptions& options = std::get<BridgeOptions>(parsed);
  if (options.help) {
    std::fputs(bridgeUsage().c_str(), stdout);
    return 0;
  }
  if (options.printToken) {
    const auto token = loadToken(*options.tokenFile);
    if (const auto* error = failed(token)) return usage(error->message);
    std::printf("%s\n", std::get<std::string>(token).c_str());
    return 0;
  }

  const auto key = readKey(options.keyFile);
  if (const auto* error = failed(key)) return usage(error->message);
  std::string state;
  if (!options.journal || !options.tokenFile) {
    const auto folder = stateDirectory();
    if (const auto* error = failed(folder)) return usage(error->message);
    state = std::get<std::string>(folder);
  }
  const auto token = loadToken(options.tokenFile.value_or(state + "/token"));
  if (const auto* error = failed(token)) return usage(error->message);
  const std::string journalPath = options.journal.value_or(state + "/journal.db");
  std::string why;
  std::shared_ptr<KOVSqliteJournal> journal = KOVSqliteJournal::open(journalPath, &why);
  if (!journal) return usage("--journal " + why);
  if (options.caFile && !KOVCurlTransport::addTrustedCertificates(*options.caFile, &why)) {
    return usage("--ca-file " + *options.caFile + ": " + why);
  }

  boost::asio::io_context io{1};
  const auto loop = std::make_shared<KOVPollLoop>();
  BridgeMetrics metrics;
  BridgeTill till(loop, std::move(journal), {*options.user, std::get<std::string>(key), *options.station}, metrics);
  if (options.endpoint) till.engine().setEndpointUrls(*options.endpoint, *options.endpoint);
  BridgeLoopDriver driver(io, loop);
  const BridgeGuard guard(std::get<std::string>(token), options.allowOrigins, options.allowHosts);
  BridgeDispatcher dispatcher(till, guard, metrics, options.serve);
  BridgeServer server(io, dispatcher, driver);
  if (options.tlsCert && !server.useTls(*options.tlsCert, *options.tlsKey, why)) return usage(why);
  if (!server.listen(options.listen.host, options.listen.port, why)) return usage(why);
  if (!options.listenGiven) {
    std::string noIpv6;
    server.listen("::1", server.port(), noIpv6);  // a machine without IPv6 has 127.0.0.1 still
  }
  const bool ipv6 = options.listen.host.find(':') != std::string::npos;
  const std::string url = std::string(server.tls() ? "https" : "http") + "://" +
                          (ipv6 ? "[" + options.listen.host + "]" : options.listen.host) + ":" +
                          std::to_string(server.port());
  if (!kov::EndpointPolicy::isLoopbackHost(options.listen.host)) {
    logLine("listening beyond this machine on " + url + ", over TLS");
  }
  std::printf("kov-bridge listening on %s\n", url.c_str());
  std::fflush(stdout);

  // Payments a crash left unfinished are followed to their results before any new one.
  if (!till.recoverJournal(&why)) return usage("--journal " + journalPath + ": " + why);
  driver.kick();

  boost::asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](boost::system::error_code error, int) {
    if (error) return;
    // A payment still running stays in the journal, recovered at the next start.
    logLine("stopping");
    server.stop();
    driver.stop();
    till.shutdown();
  });
  io.run();
  // The cancelled requests' completions, while the engine is still there.
  loop->processReady();
  return 0;
}
