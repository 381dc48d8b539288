#include "SimOptions.h"

#include <charconv>
#include <cstdlib>
#include <sstream>

#include "SimServer.h"

namespace kovsim {
namespace {

bool parseInt(const std::string& text, int low, int high, int& value) {
  int parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) {
    return false;
  }
  value = parsed;
  return true;
}

bool parseSpeed(const std::string& text, double& value) {
  if (text.empty()) {
    return false;
  }
  char* end = nullptr;
  const double parsed = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || !(parsed > 0.0) || parsed > 1000000.0) {
    return false;
  }
  value = parsed;
  return true;
}

std::set<std::string> parseList(const std::string& text) {
  std::set<std::string> items;
  std::stringstream stream(text);
  std::string item;
  while (std::getline(stream, item, ',')) {
    if (!item.empty()) {
      items.insert(item);
    }
  }
  return items;
}

// HOST:PORT, where HOST may be a bracketed IPv6 address.
bool parseListen(const std::string& text, std::string& host, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos || colon == 0) {
    return false;
  }
  host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  return parseInt(text.substr(colon + 1), 0, 65535, port);
}

}  // namespace

SimOptions parseOptions(const std::vector<std::string>& args) {
  SimOptions options;
  SimConfig& config = options.config;
  for (std::size_t i = 0; i < args.size() && options.error.empty(); ++i) {
    const std::string& arg = args[i];
    const auto needValue = [&](std::string& value) {
      if (i + 1 >= args.size()) {
        options.error = arg + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    std::string value;
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--tls") {
      config.tls = true;
    } else if (arg == "--allow-remote") {
      config.allowRemote = true;
    } else if (arg == "--listen") {
      if (needValue(value) && !parseListen(value, config.host, config.port)) {
        options.error = "--listen wants HOST:PORT, not \"" + value + "\"";
      }
    } else if (arg == "--cert-dir") {
      if (needValue(value)) {
        config.certDir = value;
      }
    } else if (arg == "--scenario") {
      if (needValue(value)) {
        const auto scenario = scenarioFromName(value);
        if (scenario) {
          config.scenario = *scenario;
        } else {
          options.error = "unknown scenario \"" + value + "\" (one of: " + scenarioNames() + ")";
        }
      }
    } else if (arg == "--speed") {
      if (needValue(value) && !parseSpeed(value, config.speed)) {
        options.error = "--speed wants a number above 0, not \"" + value + "\"";
      }
    } else if (arg == "--tmo") {
      if (needValue(value) && !parseInt(value, 1, 3600, config.tmoSeconds)) {
        options.error = "--tmo wants whole seconds from 1 to 3600, not \"" + value + "\"";
      }
    } else if (arg == "--hold-ms") {
      if (needValue(value) && !parseInt(value, 0, 3600000, config.holdMs)) {
        options.error = "--hold-ms wants milliseconds from 0 to 3600000, not \"" + value + "\"";
      }
    } else if (arg == "--user") {
      if (needValue(value)) {
        config.user = value;
      }
    } else if (arg == "--key") {
      if (needValue(value)) {
        config.key = value;
      }
    } else if (arg == "--stations") {
      if (needValue(value)) {
        config.stations = parseList(value);
      }
    } else if (arg == "--offline") {
      if (needValue(value)) {
        config.offline = parseList(value);
      }
    } else {
      options.error = "unknown option \"" + arg + "\" (see --help)";
    }
  }
  if (options.error.empty() && !options.help) {
    if (config.tls && config.certDir.empty()) {
      options.error = "--tls needs --cert-dir DIR";
    } else if (!config.allowRemote && !isLoopbackHost(config.host)) {
      options.error = "refusing to listen on " + config.host + ", which is not a loopback address (use --allow-remote)";
    }
  }
  return options;
}

std::string usageText() {
  return "Usage: kov-simulator [options]\n"
         "A payment service with simulated terminals for a developer's own machine.\n"
         "It answers POSTs on /wqmi3/pos.aspx, and GET /_sim/stats with JSON counts: the TCP\n"
         "connections accepted since start and the requests per TxnRef and TxnType.\n"
         "On start it prints one line: kov-simulator listening on URL. It logs a line per\n"
         "request to stderr, the merchant key masked.\n"
         "\n"
         "Options:\n"
         "  --listen HOST:PORT  where to listen (default 127.0.0.1:8080; port 0 picks a free port)\n"
         "  --allow-remote      allow a listen address other than loopback\n"
         "  --tls               serve https; writes a fresh test CA and server certificate\n"
         "  --cert-dir DIR      where --tls writes ca.pem (the CA to trust), server.pem and\n"
         "                      server-key.pem (for 127.0.0.1 and localhost)\n"
         "  --scenario NAME     scenario of every transaction (default approve)\n"
         "  --speed FACTOR      clock factor of the terminal's screens (default 1; 10 is ten times faster)\n"
         "  --tmo SECONDS       poll time-out sent in every screen answer as Tmo (default 30)\n"
         "  --hold-ms MS        longest hold of a status request (default 90 % of the Tmo)\n"
         "  --user NAME         the merchant user name accepted (default merchant)\n"
         "  --key KEY           the merchant key accepted (default s3cret)\n"
         "  --stations A,B      the known stations (default: every non-empty station id)\n"
         "  --offline A,B       stations whose terminal is not connected\n"
         "  --help              this text\n"
         "\n"
         "A status request is held until the screen differs from the one last sent, or until\n"
         "the hold limit; the first one after a button request is answered at once.\n"
         "Transaction and button requests are answered at once.\n"
         "\n"
         "A transaction whose MRef is \"sim:NAME\" runs scenario NAME instead.\n"
         "Scenarios:\n"
         "  approve          PRESENT/INSERT CARD (B1 CANCEL), SELECT ACCOUNT (CHQ/SAV), ENTER PIN\n"
         "                   (B1 CANCEL), PROCESSING, then approved (RC 00). Screens move on with\n"
         "                   the clock (card 2 s, account 1.5 s, PIN 1.5 s, processing 1 s at speed 1);\n"
         "                   an account press moves on at once, a CANCEL press cancels (RC TC)\n"
         "  decline          the same screens, then declined (RC 51)\n"
         "  cancel           cancelled on the terminal while it asks for the card (RC TC)\n"
         "  signature        after processing, SIGNATURE OK? with a receipt and YES/NO; it waits\n"
         "                   for a press: YES approves, NO declines (RC S2)\n"
         "  drop             the transaction request starts the transaction, then every request of\n"
         "                   it, the first one included, has its connection closed without answer\n"
         "  stall            the transaction request is answered at once (so the client learns the\n"
         "                   Tmo); every status request is held Tmo + 2 s, past the client's time-out\n"
         "  http500          every answer has HTTP status 500, its body the usual screen or result\n"
         "  garbage          every screen answer is a 200 whose body is not XML; the final result\n"
         "                   is a valid document, so a client still ends\n"
         "  empty            every screen answer is a 200 with an empty body; the final result as above\n"
         "  result-complete  the final answer has Result/Complete 1 and no Complete at the root\n"
         "\n"
         "Service errors (a complete answer with AP 0 and the response code RC):\n"
         "  p8 wrong user or key, p7 unknown TxnType, p9 unknown or missing station,\n"
         "  tq station listed in --offline, pc another transaction runs on the station,\n"
         "  pn status or button request for an unknown TxnRef, pd malformed request (HTTP 400).\n"
         "A transaction request for a TxnRef already known starts nothing: it is answered with\n"
         "that transaction's current screen or result.\n";
}

}  // namespace kovsim
