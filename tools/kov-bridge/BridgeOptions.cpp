#include "BridgeOptions.h"

#include <KOVModule/KOVEndpointPolicy.h>

#include <CLI/CLI.hpp>

#include <charconv>

#include "CliEmptyValues.h"

namespace kovbridge {
namespace {

void defineOptions(CLI::App& app, BridgeOptions& o) {
  app.set_config("--config", "", "read these settings from a file (NAME = \"VALUE\" lines, as the options)");
  app.add_option("--endpoint", o.endpoint, "the payment service's URL (https, or http on loopback; default production)");
  app.add_option("--listen", "HOST:PORT to listen on (default 127.0.0.1:8787 and [::1]:8787; port 0: a free one)")
      ->each([&o](const std::string& value) {
        const auto listen = parseListen(value);
        if (!listen) throw CLI::ValidationError("--listen wants HOST:PORT with HOST an IP address, not '" + value + "'");
        o.listen = *listen;
        o.listenGiven = true;
      })
      ->type_name("HOST:PORT");
  app.add_option("--user", o.user, "the merchant user name");
  app.add_option("--station", o.station, "the terminal's station id");
  app.add_option("--key-file", o.keyFile,
                 "the merchant key, the first line of this file (else KOV_KEY, else the\n"
                 "systemd credential kov-key)");
  app.add_option("--token-file", o.tokenFile, "the page's bearer token (created, mode 0600, when missing)");
  app.add_option("--journal", o.journal, "the journal file (default journal.db in the state folder)");
  app.add_option("--allow-origin", o.allowOrigins, "a page origin CORS lets in (repeatable)");
  app.add_option("--allow-host", o.allowHosts, "a Host name taken besides loopback ones (repeatable)");
  app.add_option("--serve", o.serve, "serve this folder, the till's page, at /");
  app.add_option("--ca-file", o.caFile, "also trust the certificates in this PEM file");
  app.add_option("--tls-cert", o.tlsCert, "serve https with this certificate chain (PEM)");
  app.add_option("--tls-key", o.tlsKey, "and this private key (PEM)");
  app.add_flag("--print-token", o.printToken, "print the token of --token-file (created when missing) and exit");
  app.set_help_flag("-h,--help", "this text");
}

}  // namespace

std::optional<BridgeListen> parseListen(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) return std::nullopt;
  BridgeListen listen;
  listen.host = text.substr(0, colon);
  if (listen.host.size() > 2 && listen.host.front() == '[' && listen.host.back() == ']') {
    listen.host = listen.host.substr(1, listen.host.size() - 2);
  } else if (listen.host.find(':') != std::string::npos) {
    return std::nullopt;  // an IPv6 address needs its brackets
  }
  if (listen.host == "localhost") listen.host = "127.0.0.1";
  const std::string port = text.substr(colon + 1);
  const auto [end, error] = std::from_chars(port.data(), port.data() + port.size(), listen.port);
  if (port.empty() || error != std::errc() || end != port.data() + port.size() || listen.port < 0 ||
      listen.port > 65535) {
    return std::nullopt;
  }
  return listen;
}

std::variant<BridgeOptions, BridgeUsageError> parseBridgeOptions(const std::vector<std::string>& args) {
  CLI::App app("", "kov-bridge");
  BridgeOptions options;
  defineOptions(app, options);
  try {
    app.parse(kovtools::withEmptyValues(app, args));
  } catch (const CLI::CallForHelp&) {
    options.help = true;
    return options;
  } catch (const CLI::ParseError& error) {
    return BridgeUsageError{error.what()};
  }
  if (options.printToken) {
    if (!options.tokenFile) return BridgeUsageError{"--print-token needs --token-file PATH"};
    return options;
  }
  if (options.endpoint) {
    std::string why;
    if (!kov::EndpointPolicy::isAcceptable(*options.endpoint, &why)) return BridgeUsageError{"--endpoint refused: " + why};
  }
  if (!options.user) return BridgeUsageError{"--user is needed"};
  if (!options.station) return BridgeUsageError{"--station is needed"};
  if (options.tlsCert.has_value() != options.tlsKey.has_value()) {
    return BridgeUsageError{"--tls-cert and --tls-key go together"};
  }
  if (!kov::EndpointPolicy::isLoopbackHost(options.listen.host) && !options.tlsCert) {
    return BridgeUsageError{"refusing to listen on " + options.listen.host +
                            ", which is not a loopback address, without TLS: give --tls-cert and --tls-key"};
  }
  return options;
}

std::string bridgeUsage() {
  CLI::App app("", "kov-bridge");
  BridgeOptions options;
  defineOptions(app, options);
  return "usage: kov-bridge --user NAME --station ID [--endpoint URL] [--listen HOST:PORT] [options]\n"
         "       kov-bridge --print-token --token-file PATH\n"
         "Serves the payment engine to the till's web page on a local HTTP interface; prints\n"
         "\"kov-bridge listening on URL\" once it listens.\n" +
         app.help();
}

}  // namespace kovbridge
