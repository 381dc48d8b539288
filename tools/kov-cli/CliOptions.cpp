#include "CliOptions.h"

#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVEndpointPolicy.h>

#include <fcntl.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
#include <string_view>
#include <utility>

#include "CliEmptyValues.h"

namespace kovcli {
namespace {

struct Command {
  std::string_view name;
  std::optional<KOVTransactionType> type;  // none for the commands that start no transaction
  std::string_view help;
};

const std::array<Command, 8> kCommands{{
    {"purchase", KOVTransactionTypePurchase, "a payment"},
    {"auth", KOVTransactionTypeAuth, "an authorisation, to be completed later"},
    {"complete", KOVTransactionTypeComplete, "the completion of an authorisation"},
    {"refund", KOVTransactionTypeRefund, "a refund"},
    {"void", KOVTransactionTypeVoid, "a void"},
    {"recover", std::nullopt, "the result of an interrupted transaction, by its --txn-ref"},
    {"pending", std::nullopt, "the journal's unfinished transactions, one JSON line each"},
    {"forget", std::nullopt, "removes --txn-ref from the journal"},
}};

using TextField = std::optional<std::string> KOVTransactionDetails::*;

struct TextOption {
  std::string_view name;
  TextField field;
  bool forRecovery;  // also taken by "recover"
  std::string_view help;
};

const std::array<TextOption, 12> kTextOptions{{
    {"--user", &KOVTransactionDetails::userName, true, "the merchant user name"},
    {"--station", &KOVTransactionDetails::stationId, true, "the terminal's station id"},
    {"--txn-ref", &KOVTransactionDetails::txnRef, true, "the transaction's reference, never used for another"},
    {"--currency", &KOVTransactionDetails::currencyCode, false, "the currency code, e.g. AUD"},
    {"--qel-txn-ref", &KOVTransactionDetails::qelTxnRef, false, "QelTxnRef (sent when not empty)"},
    {"--device-id", &KOVTransactionDetails::deviceId, false, "DeviceId"},
    {"--pos-name", &KOVTransactionDetails::posName, false, "PosName"},
    {"--pos-version", &KOVTransactionDetails::posVersion, false, "PosVersion"},
    {"--vendor-id", &KOVTransactionDetails::vendorId, false, "VendorId"},
    {"--merchant-ref", &KOVTransactionDetails::merchantRef, false, "MRef, the merchant's own reference"},
    {"--url-success", &KOVTransactionDetails::urlSuccess, false, "UrlSuccess"},
    {"--url-fail", &KOVTransactionDetails::urlFail, false, "UrlFail"},
}};

constexpr std::size_t kHelpColumn = 27;
// A key file is a line; more than this is some other file (or a device that never ends).
constexpr std::size_t kMaxKeyFileBytes = 4096;

const char* const kRecordGroup =
    "Request record (an option not given leaves the field null; an empty value sets the empty text)";
const char* const kKeyGroup = "The merchant key, from exactly one of";
const char* const kServiceGroup = "Service";
const char* const kPacingGroup = "Pacing (SECONDS: a plain decimal number, such as 2 or 0.5)";
const char* const kOutputGroup = "Output";

// What the options store as they are read; the key's sources are settled once all are in.
struct Read {
  CliOptions options;
  std::optional<std::string> key;      // --key
  std::optional<std::string> keyFile;  // --key-file
};

using Take = std::function<void(const std::string&)>;

// An option with one value, converted (or refused, with the whole message) by take. Every
// value given reaches take, so that a repeated option is refused after parsing rather than
// resolved by CLI11.
CLI::Option* addValue(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& group,
                      const std::string& help, Take take) {
  CLI::Option* option = app.add_option(
      name,
      [take = std::move(take)](const CLI::results_t& values) {
        for (const std::string& value : values) take(value);
        return true;
      },
      help);
  option->type_name(typeName)->group(group)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  return option;
}

Take text(std::optional<std::string>& into) {
  return [&into](const std::string& value) { into = value; };
}

// Digits with an optional fraction: strtod would also read "0x10", "1e3" or "inf".
bool isPlainDecimal(std::string_view text) {
  const auto digits = [](std::string_view part) {
    return !part.empty() && std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const std::size_t point = text.find('.');
  return point == std::string_view::npos ? digits(text) : digits(text.substr(0, point)) && digits(text.substr(point + 1));
}

Take seconds(const std::string& name, int low, int high, std::optional<double>& into) {
  return [name, low, high, &into](const std::string& value) {
    double parsed = -1;
    if (isPlainDecimal(value)) {
      std::from_chars(value.data(), value.data() + value.size(), parsed);
    }
    if (!(parsed >= low && parsed <= high)) {
      throw CLI::ValidationError(name + " wants seconds from " + std::to_string(low) + " to " + std::to_string(high) +
                                 ", not '" + value + "'");
    }
    into = parsed;
  };
}

// Every command and option on app, storing into read.
void defineCommandLine(CLI::App& app, Read& read) {
  CliOptions& o = read.options;
  // Extras are reported in this program's own words (unknown option, unknown command).
  app.allow_extras();
  app.require_subcommand(0, 1);
  for (const Command& command : kCommands) {
    CLI::App* sub = app.add_subcommand(std::string(command.name), std::string(command.help));
    // The options are the program's, before or after the command; --help shows them all.
    sub->fallthrough();
    sub->set_help_flag();
  }

  const auto addText = [&](const TextOption& option) {
    addValue(app, std::string(option.name), "TEXT", kRecordGroup, std::string(option.help),
             text(o.details.*(option.field)));
  };
  // The amount after the three every command needs, as the help lists them.
  std::for_each(kTextOptions.begin(), kTextOptions.begin() + 3, addText);
  addValue(app, "--amount", "DECIMAL", kRecordGroup, "zero or more, at most two decimals, e.g. 12.50",
           [&o](const std::string& value) {
             o.details.amount = KOVDecimal::parse(value);
             if (!o.details.amount) {
               throw CLI::ValidationError("--amount needs a plain decimal number such as 12.50, not '" + value + "'");
             }
           });
  std::for_each(kTextOptions.begin() + 3, kTextOptions.end(), addText);
  app.add_flag("--skip-signature", o.details.skipSignatureVerification,
               "answer the signature step on the operator's behalf")
      ->group(kRecordGroup);

  addValue(app, "--key-file", "PATH", kKeyGroup,
           "the first line of this file (recommended); a UTF-8 byte order\nmark and the line's end are not part of it",
           text(read.keyFile));
  addValue(app, "--key", "TEXT", kKeyGroup, "on the command line, where any local user can see it", text(read.key));

  app.add_flag("--uat", o.uat, "use the test endpoint (default: production)")->group(kServiceGroup);
  addValue(app, "--endpoint", "URL", kServiceGroup, "use this URL for both endpoints (https, or http on loopback)",
           [&o](const std::string& value) {
             std::string why;
             if (!kov::EndpointPolicy::isAcceptable(value, &why)) {
               throw CLI::ValidationError("--endpoint refused: " + why);
             }
             o.endpoint = value;
           });
  addValue(app, "--ca-file", "PEM", kServiceGroup, "also trust the certificates in this file", text(o.caFile));
  addValue(app, "--journal", "FILE", kServiceGroup,
           "keep the transaction in this journal (created if missing), so\n"
           "that after a crash pending lists it and recover hands over a\n"
           "result that had arrived; a journalled reference started again\n"
           "with the same fields follows that payment, any other use of it\n"
           "is refused",
           text(o.journal));

  addValue(app, "--retry-spacing", "SECONDS", kPacingGroup,
           "after a failed poll, send the next this long after the failed\n"
           "one (0 to 3600; 0: at once; 2 suits a gateway in front of the\n"
           "service); not given, a growing delay: 0.25 s, doubled after\n"
           "each failure up to 4 s",
           seconds("--retry-spacing", 0, 3600, o.retrySpacing));
  addValue(app, "--poll-floor", "SECONDS", kPacingGroup,
           "the least time between two status polls (0 to 60; default\n0.2; 0: none)",
           seconds("--poll-floor", 0, 60, o.pollFloor));
  addValue(app, "--deadline", "SECONDS", kPacingGroup,
           "the longest a transaction runs without a final answer (1 to\n"
           "86400; default 600); then the terminal is asked to cancel, and\n"
           "without a final answer soon after, the result is the time-out's",
           seconds("--deadline", 1, 86400, o.deadline));

  app.add_flag("--debug", o.debug, "every log entry on stderr as {\"log\":KIND,\"entry\":TEXT}")->group(kOutputGroup);
  app.set_help_flag("-h,--help", "this text")->group(kOutputGroup);
}

// The first line of the key file. At most 4 KiB are read, so that a device or a wrong file
// cannot fill the memory; a UTF-8 byte order mark and the line's end are not part of the key.
std::variant<std::string, CliUsageError> readKeyFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return CliUsageError{"--key-file " + path + ": cannot read: " + std::strerror(errno)};
  }
  std::string content(kMaxKeyFileBytes + 1, '\0');
  std::size_t size = 0;
  ssize_t n = 0;
  while (size < content.size() && ((n = ::read(fd, content.data() + size, content.size() - size)) > 0 ||
                                   (n < 0 && errno == EINTR))) {
    size += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  const int readError = n < 0 ? errno : 0;
  ::close(fd);
  if (readError != 0) {
    return CliUsageError{"--key-file " + path + ": cannot read: " + std::strerror(readError)};
  }
  if (size > kMaxKeyFileBytes) {
    return CliUsageError{"--key-file " + path + " is too large for a key file (over 4 KiB)"};
  }
  content.resize(size);
  std::string_view line(content);
  if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
  line = line.substr(0, line.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) {
    return CliUsageError{"--key-file " + path + " holds no key on its first line"};
  }
  return std::string(line);
}

// The key from its one source; an error when there is none or more than one.
std::optional<CliUsageError> settleKey(const Read& read, const std::optional<std::string>& kovKeyVariable,
                                       const std::string& command, std::optional<std::string>& key) {
  const bool fromVariable = kovKeyVariable && !kovKeyVariable->empty();
  std::vector<std::string> sources;
  if (read.key) sources.emplace_back("--key");
  if (read.keyFile) sources.emplace_back("--key-file");
  if (fromVariable) sources.emplace_back("KOV_KEY");
  if (sources.size() > 1) {
    std::string named = sources[0];
    for (std::size_t i = 1; i < sources.size(); ++i) named += (i + 1 == sources.size() ? " and " : ", ") + sources[i];
    return CliUsageError{"the merchant key is given by " + named + ": give exactly one of them"};
  }
  if (sources.empty()) {
    return CliUsageError{command + " needs the merchant key: --key-file PATH or KOV_KEY (or --key)"};
  }
  std::string source = sources[0];
  if (read.keyFile) {
    auto fromFile = readKeyFile(*read.keyFile);
    if (const auto* error = std::get_if<CliUsageError>(&fromFile)) return *error;
    key = std::get<std::string>(fromFile);
    source += " " + *read.keyFile;
  } else {
    key = read.key ? read.key : kovKeyVariable;
  }
  // A blank there is a copying slip far more often than part of a key, and the service would
  // take it as part of it.
  if (!key->empty() && (std::string_view(" \t").find(key->front()) != std::string_view::npos ||
                        std::string_view(" \t").find(key->back()) != std::string_view::npos)) {
    return CliUsageError{"the merchant key from " + source + " begins or ends with a blank, which would be sent as "
                         "part of it"};
  }
  return std::nullopt;
}

std::string usageLines() {
  return "usage: kov-cli <purchase|auth|complete|refund|void|recover> [options]\n"
         "       kov-cli pending --journal FILE\n"
         "       kov-cli forget --journal FILE --txn-ref REF\n"
         "Runs one transaction and prints its result record as JSON on stdout; pending prints\n"
         "each unfinished transaction of the journal as a JSON line, to be recovered; forget\n"
         "removes one from the journal, for a payment settled by other means.\n";
}

}  // namespace

std::string cliUsage() {
  CLI::App app("", "kov-cli");
  Read read;
  defineCommandLine(app, read);
  CLI::Formatter format;
  format.column_width(kHelpColumn);
  const auto group = [&](const char* name) {
    return format.make_group(name, false, std::as_const(app).get_options([name](const CLI::Option* o) { return o->get_group() == name; }));
  };
  std::string commands = "\nCommands:\n";
  for (const CLI::App* sub : app.get_subcommands({})) commands += format.make_subcommand(sub);
  // The environment variable goes between the options, in their layout.
  const std::string variable = "  KOV_KEY";
  const std::string keys =
      std::string("\n") + kKeyGroup + ":\n" + format.make_option(app.get_option("--key-file"), false) + variable +
      std::string(kHelpColumn - variable.size(), ' ') +
      "the environment variable (recommended; empty counts as unset)\n" +
      format.make_option(app.get_option("--key"), false);
  return usageLines() + commands + group(kRecordGroup) +
         "recover takes --user, the key, --station, --txn-ref and --skip-signature; with --journal\n"
         "the journal's station and user are used when none is given.\n"
         "--user, the key and --txn-ref are needed by every command, --amount and --currency by\n"
         "purchase, auth and refund. Text is refused when it holds control characters (a carriage\n"
         "return anywhere; a tab or line break in the user or key), as the service would not read it\n"
         "as given. Nothing is sent for a refused record, nor when an option is given twice.\n" +
         keys +
         "More than one of them is refused, as is a key that begins or ends with a blank.\n" +
         group(kServiceGroup) + group(kPacingGroup) + group(kOutputGroup) +
         "\n"
         "stderr: one JSON line per screen update and per signature receipt; why a result is not\n"
         "the service's answer (the time-out's last failure ...), in plain words.\n"
         "stdin: a line B1 or B2 presses that button with the label last shown; a line cancel\n"
         "(or Ctrl-C) asks the terminal to cancel: its CANCEL is pressed now or when shown, and\n"
         "the result is what the service then says. A second Ctrl-C abandons the payment.\n"
         "Exit status: 0 approved, 1 any other result, 2 bad usage or a refused record or\n"
         "reference (nothing sent), 3 the result could not be written to stdout.\n";
}

std::string usageErrorLine(const std::string& message) {
  return "kov-cli: " + message + " (see kov-cli --help)";
}

std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& args,
                                                        const std::optional<std::string>& kovKeyVariable) {
  CLI::App app("", "kov-cli");
  Read read;
  defineCommandLine(app, read);
  CliOptions& options = read.options;
  try {
    app.parse(kovtools::withEmptyValues(app, args));
  } catch (const CLI::CallForHelp&) {
    options.help = true;
    return options;
  } catch (const CLI::ArgumentMismatch& error) {
    // The values are taken as they come, so only the last argument can lack its own.
    const CLI::Option* last = args.empty() ? nullptr : app.get_option_no_throw(args.back());
    return CliUsageError{last ? "option " + args.back() + " needs a value" : std::string(error.what())};
  } catch (const CLI::ParseError& error) {
    return CliUsageError{error.what()};
  }

  // The last of two silently winning would hide a script's mistake.
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() > 1) {
      return CliUsageError{option->get_name() + " is given " +
                           (option->count() == 2 ? "twice" : std::to_string(option->count()) + " times")};
    }
  }
  const std::vector<CLI::App*> chosen = app.get_subcommands();
  const std::vector<std::string> extras = app.remaining();
  if (!extras.empty()) {
    const std::string& first = extras.front();
    if (first.starts_with("-")) return CliUsageError{"unknown option " + first};
    return CliUsageError{chosen.empty() ? "unknown command '" + first + "'" : "unexpected argument '" + first + "'"};
  }
  if (chosen.empty()) {
    return CliUsageError{"no command given (purchase, auth, complete, refund, void, recover, pending or forget)"};
  }
  const std::string command = chosen.front()->get_name();
  std::vector<std::string> given;
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() > 0) given.push_back(option->get_name());
  }
  const auto givenOnly = [&given](std::initializer_list<std::string_view> allowed) {
    return std::all_of(given.begin(), given.end(), [allowed](const std::string& name) {
      return std::find(allowed.begin(), allowed.end(), name) != allowed.end();
    });
  };

  if (command == "pending") {
    if (!options.journal || !givenOnly({"--journal"})) {
      return CliUsageError{"pending takes --journal FILE and nothing else"};
    }
    options.pending = true;
    return options;
  }
  if (command == "forget") {
    if (!options.journal || !options.details.txnRef || !givenOnly({"--journal", "--txn-ref"})) {
      return CliUsageError{"forget takes --journal FILE --txn-ref REF and nothing else"};
    }
    options.forget = true;
    return options;
  }
  const Command& transaction =
      *std::find_if(kCommands.begin(), kCommands.end(), [&command](const Command& c) { return c.name == command; });
  if (!transaction.type) {
    for (const std::string& name : given) {
      const bool recordOnly = name == "--amount" || std::any_of(kTextOptions.begin(), kTextOptions.end(),
                                                                [&name](const TextOption& t) {
                                                                  return !t.forRecovery && t.name == name;
                                                                });
      if (recordOnly) return CliUsageError{"option " + name + " does not apply to recover"};
    }
  }
  if (auto error = settleKey(read, kovKeyVariable, command, options.details.key)) {
    return *error;
  }

  if (!transaction.type) {
    options.recover = true;
    options.recovery.userName = options.details.userName;
    options.recovery.key = options.details.key;
    options.recovery.stationId = options.details.stationId;
    options.recovery.txnRef = options.details.txnRef;
    options.recovery.skipSignatureVerification = options.details.skipSignatureVerification;
    return options;
  }
  options.txnType = *transaction.type;
  return options;
}

}  // namespace kovcli
