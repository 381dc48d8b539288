#include "SimOptions.h"

#include <KOVModule/KOVEndpointPolicy.h>

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <utility>

#include "CliEmptyValues.h"
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

bool parseCertificateKind(const std::string& text, SimCertificateKind& kind) {
  static const std::map<std::string, SimCertificateKind> kinds{{"valid", SimCertificateKind::Valid},
                                                               {"unknown-ca", SimCertificateKind::UnknownCa},
                                                               {"wrong-host", SimCertificateKind::WrongHost},
                                                               {"expired", SimCertificateKind::Expired}};
  const auto found = kinds.find(text);
  if (found == kinds.end()) {
    return false;
  }
  kind = found->second;
  return true;
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

// An option with one value, stored by take, which refuses it with the whole message. Given
// again, the last one counts, so that a script can override what it set before.
void addValue(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& help,
              std::function<void(const std::string&)> take) {
  app.add_option(
         name,
         [take = std::move(take)](const CLI::results_t& values) {
           take(values.back());
           return true;
         },
         help)
      ->type_name(typeName)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
}

std::function<void(const std::string&)> wholeNumber(int low, int high, int& into, const std::string& wants) {
  return [low, high, &into, wants](const std::string& value) {
    if (!parseInt(value, low, high, into)) throw CLI::ValidationError(wants + ", not \"" + value + "\"");
  };
}

void defineOptions(CLI::App& app, SimConfig& config) {
  // Extras are reported in the simulator's own words.
  app.allow_extras();
  addValue(app, "--listen", "HOST:PORT", "where to listen (default 127.0.0.1:8080; port 0 picks a free port)",
           [&config](const std::string& value) {
             if (!parseListen(value, config.host, config.port)) {
               throw CLI::ValidationError("--listen wants HOST:PORT, not \"" + value + "\"");
             }
           });
  app.add_flag("--allow-remote", config.allowRemote, "allow a listen address other than loopback");
  app.add_flag("--tls", config.tls, "serve https; writes a fresh test CA and server certificate");
  addValue(app, "--cert-dir", "DIR",
           "where --tls writes ca.pem (the CA to trust), server.pem and\n"
           "server-key.pem (for 127.0.0.1 and localhost)",
           [&config](const std::string& value) { config.certDir = value; });
  addValue(app, "--tls-cert", "KIND",
           "the certificate --tls serves: valid (default), or one that a client\n"
           "trusting ca.pem must refuse before it sends anything: unknown-ca\n"
           "(issued by another CA), wrong-host (for pay.example.com only),\n"
           "expired (since yesterday)",
           [&config](const std::string& value) {
             if (!parseCertificateKind(value, config.certificate)) {
               throw CLI::ValidationError("--tls-cert wants valid, unknown-ca, wrong-host or expired, not \"" + value +
                                          "\"");
             }
           });
  app.add_flag("--tls-old", config.oldTls, "with --tls, offer only TLS 1.0 and 1.1, which a client must refuse");
  addValue(app, "--scenario", "NAME", "scenario of every transaction (default approve)",
           [&config](const std::string& value) {
             const auto scenario = scenarioFromName(value);
             if (!scenario) {
               throw CLI::ValidationError("unknown scenario \"" + value + "\" (one of: " + scenarioNames() + ")");
             }
             config.scenario = *scenario;
           });
  addValue(app, "--speed", "FACTOR", "clock factor of the terminal's screens (default 1; 10 is ten times faster)",
           [&config](const std::string& value) {
             if (!parseSpeed(value, config.speed)) {
               throw CLI::ValidationError("--speed wants a number above 0, not \"" + value + "\"");
             }
           });
  addValue(app, "--tmo", "SECONDS", "poll time-out sent in every screen answer as Tmo (default 30)",
           wholeNumber(1, 3600, config.tmoSeconds, "--tmo wants whole seconds from 1 to 3600"));
  addValue(app, "--hold-ms", "MS", "longest hold of a status request (default 90 % of the Tmo)",
           wholeNumber(0, 3600000, config.holdMs, "--hold-ms wants milliseconds from 0 to 3600000"));
  addValue(app, "--user", "NAME", "the merchant user name accepted (default merchant)",
           [&config](const std::string& value) { config.user = value; });
  addValue(app, "--key", "KEY", "the merchant key accepted (default s3cret)",
           [&config](const std::string& value) { config.key = value; });
  addValue(app, "--stations", "A,B", "the known stations (default: every non-empty station id)",
           [&config](const std::string& value) { config.stations = parseList(value); });
  addValue(app, "--offline", "A,B", "stations whose terminal is not connected",
           [&config](const std::string& value) { config.offline = parseList(value); });
  app.set_help_flag("-h,--help", "this text");
}

}  // namespace

SimOptions parseOptions(const std::vector<std::string>& args) {
  SimOptions options;
  SimConfig& config = options.config;
  CLI::App app("", "kov-simulator");
  defineOptions(app, config);
  try {
    app.parse(kovtools::withEmptyValues(app, args));
  } catch (const CLI::CallForHelp&) {
    options.help = true;
    return options;
  } catch (const CLI::ArgumentMismatch& error) {
    // The values are taken as they come, so only the last argument can lack its own.
    options.error = !args.empty() && app.get_option_no_throw(args.back()) ? args.back() + " needs a value"
                                                                         : std::string(error.what());
    return options;
  } catch (const CLI::ParseError& error) {
    options.error = error.what();
    return options;
  }
  if (const std::vector<std::string> extras = app.remaining(); !extras.empty()) {
    options.error = "unknown option \"" + extras.front() + "\" (see --help)";
  } else if (config.tls && config.certDir.empty()) {
    options.error = "--tls needs --cert-dir DIR";
  } else if (!config.tls && (config.certificate != SimCertificateKind::Valid || config.oldTls)) {
    options.error = "--tls-cert and --tls-old need --tls";
  } else if (!config.allowRemote && !kov::EndpointPolicy::isLoopbackHost(config.host)) {
    options.error = "refusing to listen on " + config.host + ", which is not a loopback address (use --allow-remote)";
  }
  return options;
}

std::string usageText() {
  CLI::App app("", "kov-simulator");
  SimConfig config;
  defineOptions(app, config);
  CLI::Formatter format;
  format.column_width(22);
  return "Usage: kov-simulator [options]\n"
         "A payment service with simulated terminals for a developer's own machine, and the\n"
         "faults of a failing service for testing a client against them.\n"
         "It answers POSTs on /wqmi3/pos.aspx, and GET /_sim/stats with JSON counts: the TCP\n"
         "connections accepted since start and the requests per TxnRef and TxnType.\n"
         "On start it prints one line: kov-simulator listening on URL. It logs a line per\n"
         "request to stderr, the merchant key masked.\n" +
         format.make_group("Options", false, std::as_const(app).get_options()) +
         "\n"
         "A status request is held until the screen differs from the one last sent, or until\n"
         "the hold limit; the first one after a button request, and a connection's first for its\n"
         "transaction (a till that recovers it), are answered at once. A status request for a\n"
         "reference the simulator does not know (or from another station) is answered as a final,\n"
         "unapproved answer: RC pn, \"TRANSACTION NOT FOUND\".\n"
         "Transaction and button requests are answered at once.\n"
         "\n"
         "A transaction whose MRef is \"sim:NAME\" runs scenario NAME instead.\n"
         "Scenarios of the terminal:\n"
         "  approve          PRESENT/INSERT CARD (B1 CANCEL), SELECT ACCOUNT (CHQ/SAV), ENTER PIN\n"
         "                   (B1 CANCEL), PROCESSING, then approved (RC 00). Screens move on with\n"
         "                   the clock (card 2 s, account 1.5 s, PIN 1.5 s, processing 1 s at speed 1);\n"
         "                   an account press moves on at once, a CANCEL press cancels (RC TC)\n"
         "  decline          the same screens, then declined (RC 51)\n"
         "  cancel           cancelled on the terminal while it asks for the card (RC TC)\n"
         "  late-cancel      approve, but a CANCEL press comes after the authorisation: ignored (RC 00)\n"
         "  signature        after processing, SIGNATURE OK? with a receipt and YES/NO; it waits\n"
         "                   for a press: YES approves, NO declines (RC S2)\n"
         "  result-complete  approve, with Result/Complete 1 and no Complete at the root at the end\n"
         "\n"
         "Fault scenarios, NAME[-first][-N], play approve with a fault. The fault meets the\n"
         "transaction's requests from the first status poll on (the transaction request gets the\n"
         "first screen, so the client knows the Tmo); with -first from the transaction request on.\n"
         "It meets every request from there; with -N, N requests in a row meet it and the next one\n"
         "is served, over and over (a client that gives up at its ninth failure in a row ends\n"
         "with \"-8\" approved and with \"-9\" timed out). Requests are counted as they arrive:\n"
         "transaction, status and button requests alike; a button request that meets a failure\n"
         "is lost with its press.\n"
         "Failures (the client gets no usable answer):\n"
         "  close            the connection is closed without an answer\n"
         "  reset            the connection is reset (RST) without an answer\n"
         "  reset-body       a chunked answer, reset after half its body\n"
         "  cut              half of an answer's Content-Length, a pause of 200 ms, then a reset\n"
         "  stall            no answer until 2 s past the client's time-out (the Tmo, or 30 s\n"
         "                   while the client has had no screen)\n"
         "  trickle          the answer in ten pieces over twice the client's time-out\n"
         "  refuse           the connection is closed and the simulator stops listening for good:\n"
         "                   every later connection, of any transaction, is refused (no -N)\n"
         "  http404          HTTP 404 with an empty body\n"
         "  http502          HTTP 502 with a gateway's HTML page\n"
         "  http307          HTTP 307 to another path with an empty body: a redirect not to follow\n"
         "  http301, http302 HTTP 301 or 302 to another path with an empty body, as a gateway\n"
         "                   answers for a moved service\n"
         "  http204          HTTP 204, no body\n"
         "  maintenance      HTTP 200 with a gateway's maintenance page: HTML, no screen\n"
         "  oversize         a chunked 200 with a 2 MiB screen, over a client's 1 MiB cap\n"
         "  oversize-length  a 200 that announces 1 MiB + 1 byte and sends none of it; the line is\n"
         "                   held as a stall holds it, then closed\n"
         "  oversize-open    a 200 without a length that sends 1 MiB + 1 byte of a screen; the line\n"
         "                   is then held as a stall holds it, then closed\n"
         "  http2-only       an HTTP/2 server's SETTINGS frame, then GOAWAY, instead of an HTTP/1.1\n"
         "                   answer; the connection is then closed (an HTTP/2-only front)\n"
         "  huge-header      the usual answer with a header line of 150 KiB, over a client's 100 KiB\n"
         "  double-length    the usual answer with two Content-Length headers, the second 10 bytes\n"
         "                   longer than the body\n"
         "  http503          HTTP 503 with an empty body and Retry-After: 1\n"
         "  drop             the older name of close-first\n"
         "Broken answers, in place of screens; the final result is always sent intact, since\n"
         "nothing else could end the transaction. A client reads the first three as answers\n"
         "without a screen, each a failed poll that the next answer forgives; the others as\n"
         "screens, with what could be read:\n"
         "  garbage          a body that is not XML\n"
         "  empty            an empty body\n"
         "  doctype          a document type with nested entities (10^9 \"lol\" when expanded) and\n"
         "                   an external one naming /etc/passwd\n"
         "  http500          HTTP 500 with the usual screen or result (the final one too)\n"
         "  truncated        a screen that breaks off in its second line: TRUNCATED / ANSWER CU\n"
         "  bad-utf8         a first line BAD, then bytes that are not UTF-8\n"
         "  deep             a first line DEEP, then elements nested 100,000 deep\n"
         "  odd-tmo          the usual screens, with Tmo 0, -5, 99999999999 and soon in turn\n"
         "  at-cap           a screen of exactly 1 MiB, a client's cap, with its Content-Length\n"
         "After their fault, bad-utf8, deep and doctype end the transaction as declined (RC 51): a\n"
         "client that reads past the fault ends with the wrong result.\n"
         "\n"
         "Service errors (a complete answer with AP 0 and the response code RC):\n"
         "  p8 wrong user or key, p7 unknown TxnType, p9 unknown or missing station,\n"
         "  tq station listed in --offline, pc another transaction runs on the station,\n"
         "  pn status or button request for an unknown TxnRef, pd malformed request (HTTP 400).\n"
         "A transaction request for a TxnRef already known starts nothing: it is answered with\n"
         "that transaction's current screen or result.\n";
}

}  // namespace kovsim
