#include "CliOptions.h"

#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVEndpointPolicy.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string_view>

namespace kovcli {
namespace {

struct Command {
  std::string_view name;
  KOVTransactionType type;
};

constexpr std::array<Command, 5> kCommands{{{"purchase", KOVTransactionTypePurchase},
                                            {"auth", KOVTransactionTypeAuth},
                                            {"complete", KOVTransactionTypeComplete},
                                            {"refund", KOVTransactionTypeRefund},
                                            {"void", KOVTransactionTypeVoid}}};

using TextField = std::optional<std::string> KOVTransactionDetails::*;

struct TextOption {
  std::string_view name;
  TextField field;
  bool forRecovery;  // also accepted by "recover"
};

const std::array<TextOption, 13> kTextOptions{{
    {"--user", &KOVTransactionDetails::userName, true},
    {"--key", &KOVTransactionDetails::key, true},
    {"--station", &KOVTransactionDetails::stationId, true},
    {"--txn-ref", &KOVTransactionDetails::txnRef, true},
    {"--currency", &KOVTransactionDetails::currencyCode, false},
    {"--qel-txn-ref", &KOVTransactionDetails::qelTxnRef, false},
    {"--device-id", &KOVTransactionDetails::deviceId, false},
    {"--pos-name", &KOVTransactionDetails::posName, false},
    {"--pos-version", &KOVTransactionDetails::posVersion, false},
    {"--vendor-id", &KOVTransactionDetails::vendorId, false},
    {"--merchant-ref", &KOVTransactionDetails::merchantRef, false},
    {"--url-success", &KOVTransactionDetails::urlSuccess, false},
    {"--url-fail", &KOVTransactionDetails::urlFail, false},
}};

}  // namespace

const char* cliUsage() {
  return "usage: kov-cli <purchase|auth|complete|refund|void|recover> [options]\n"
         "       kov-cli pending --journal FILE\n"
         "       kov-cli forget --journal FILE --txn-ref REF\n"
         "Runs one transaction and prints its result record as JSON on stdout; pending prints\n"
         "each unfinished transaction of the journal as a JSON line, to be recovered; forget\n"
         "removes one from the journal, for a payment settled by other means.\n"
         "\n"
         "Request record (an option not given leaves the field null; an empty value sets the empty text):\n"
         "  --user TEXT  --station TEXT  --txn-ref TEXT\n"
         "  --amount DECIMAL  --currency TEXT  --qel-txn-ref TEXT  --device-id TEXT\n"
         "  --pos-name TEXT  --pos-version TEXT  --vendor-id TEXT  --merchant-ref TEXT\n"
         "  --url-success TEXT  --url-fail TEXT\n"
         "  --skip-signature   answer the signature step on the operator's behalf\n"
         "recover takes --user, the key, --station, --txn-ref and --skip-signature; with --journal\n"
         "the journal's station and user are used when none is given.\n"
         "--user, the key and --txn-ref are needed by every command, --amount (zero or more, at\n"
         "most two decimals) and --currency by purchase, auth and refund. Text is refused when it\n"
         "holds control characters (a carriage return anywhere; a tab or line break in the user\n"
         "or key), as the service would not read it as given. Nothing is sent for a refused record.\n"
         "\n"
         "The merchant key, first found of:\n"
         "  --key-file PATH    the first line of this file (recommended)\n"
         "  KOV_KEY            the environment variable (recommended)\n"
         "  --key TEXT         on the command line, where any local user can see it\n"
         "\n"
         "Service:\n"
         "  --uat              use the test endpoint (default: production)\n"
         "  --endpoint URL     use this URL for both endpoints (https, or http on loopback)\n"
         "  --ca-file PEM      also trust the certificates in this file\n"
         "  --journal FILE     keep the transaction in this journal (created if missing), so that\n"
         "                     after a crash pending lists it and recover hands over a result\n"
         "                     that had arrived; a journalled reference started again with the\n"
         "                     same fields follows that payment, any other use of it is refused\n"
         "  --retry-spacing SECONDS\n"
         "                     after a failed poll, send the next no sooner than this many\n"
         "                     seconds after the failed one (default 0: at once; 2 suits a\n"
         "                     gateway in front of the service)\n"
         "  --debug            debug mode; every log entry on stderr as {\"log\":KIND,\"entry\":TEXT}\n"
         "  --help             this text\n"
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
  CliOptions options;
  std::optional<std::string> command;
  std::optional<std::string> keyFile;
  std::optional<std::string> amountText;
  std::vector<std::string> transactionOnly;  // options that recover does not take
  std::vector<std::string> given;            // every option's name

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
      return options;
    }
    if (arg.rfind("--", 0) != 0) {
      if (command) {
        return CliUsageError{"unexpected argument '" + arg + "'"};
      }
      command = arg;
      continue;
    }
    // "--name=value" or "--name value"
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }
    given.push_back(name);
    auto takeValue = [&]() -> std::optional<std::string> {
      if (inlineValue) return inlineValue;
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    auto flag = [&](bool& target) -> std::optional<CliUsageError> {
      if (inlineValue) return CliUsageError{"option " + name + " takes no value"};
      target = true;
      return std::nullopt;
    };

    std::optional<CliUsageError> error;
    if (name == "--skip-signature") {
      error = flag(options.details.skipSignatureVerification);
    } else if (name == "--uat") {
      error = flag(options.uat);
    } else if (name == "--debug") {
      error = flag(options.debug);
    } else if (name == "--endpoint" || name == "--ca-file" || name == "--amount" || name == "--key-file" ||
               name == "--retry-spacing" || name == "--journal") {
      const auto value = takeValue();
      if (!value) return CliUsageError{"option " + name + " needs a value"};
      if (name == "--endpoint") {
        options.endpoint = value;
      } else if (name == "--ca-file") {
        options.caFile = value;
      } else if (name == "--key-file") {
        keyFile = value;
      } else if (name == "--journal") {
        options.journal = value;
      } else if (name == "--retry-spacing") {
        char* end = nullptr;
        options.retrySpacing = std::strtod(value->c_str(), &end);
        if (value->empty() || end != value->c_str() + value->size() || !(options.retrySpacing >= 0) ||
            options.retrySpacing > 3600) {
          return CliUsageError{"--retry-spacing wants seconds from 0 to 3600, not '" + *value + "'"};
        }
      } else {
        amountText = value;
        transactionOnly.push_back(name);
      }
    } else {
      const TextOption* text = nullptr;
      for (const TextOption& candidate : kTextOptions) {
        if (candidate.name == name) text = &candidate;
      }
      if (!text) return CliUsageError{"unknown option " + name};
      const auto value = takeValue();
      if (!value) return CliUsageError{"option " + name + " needs a value"};
      options.details.*(text->field) = value;
      if (!text->forRecovery) transactionOnly.push_back(name);
    }
    if (error) return *error;
  }

  if (!command) {
    return CliUsageError{"no command given (purchase, auth, complete, refund, void, recover, pending or forget)"};
  }
  if (*command == "pending") {
    if (!options.journal ||
        std::any_of(given.begin(), given.end(), [](const std::string& name) { return name != "--journal"; })) {
      return CliUsageError{"pending takes --journal FILE and nothing else"};
    }
    options.pending = true;
    return options;
  }
  if (*command == "forget") {
    if (!options.journal || !options.details.txnRef ||
        std::any_of(given.begin(), given.end(),
                    [](const std::string& name) { return name != "--journal" && name != "--txn-ref"; })) {
      return CliUsageError{"forget takes --journal FILE --txn-ref REF and nothing else"};
    }
    options.forget = true;
    return options;
  }
  const Command* transaction = nullptr;
  for (const Command& candidate : kCommands) {
    if (candidate.name == *command) transaction = &candidate;
  }
  if (!transaction && *command != "recover") {
    return CliUsageError{"unknown command '" + *command + "'"};
  }
  if (!transaction && !transactionOnly.empty()) {
    return CliUsageError{"option " + transactionOnly.front() + " does not apply to recover"};
  }
  // Whatever is refused here would otherwise reach the service, or be sent other than given.
  if (options.endpoint) {
    std::string why;
    if (!KOVEndpointPolicy::isAcceptable(*options.endpoint, &why)) {
      return CliUsageError{"--endpoint refused: " + why};
    }
  }
  if (!options.details.key) {
    if (keyFile) {
      std::ifstream file(*keyFile);
      if (!file) {
        return CliUsageError{"--key-file " + *keyFile + ": cannot read: " + std::strerror(errno)};
      }
      std::string line;
      std::getline(file, line);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) {
        return CliUsageError{"--key-file " + *keyFile + " holds no key on its first line"};
      }
      options.details.key = line;
    } else if (kovKeyVariable && !kovKeyVariable->empty()) {
      options.details.key = kovKeyVariable;
    }
  }
  if (!options.details.key) {
    return CliUsageError{*command + " needs the merchant key: --key-file PATH or KOV_KEY (or --key)"};
  }

  if (!transaction) {
    options.recover = true;
    options.recovery.userName = options.details.userName;
    options.recovery.key = options.details.key;
    options.recovery.stationId = options.details.stationId;
    options.recovery.txnRef = options.details.txnRef;
    options.recovery.skipSignatureVerification = options.details.skipSignatureVerification;
    return options;
  }
  options.txnType = transaction->type;
  if (amountText && !(options.details.amount = KOVDecimal::parse(*amountText))) {
    return CliUsageError{"--amount needs a plain decimal number such as 12.50, not '" + *amountText + "'"};
  }
  return options;
}

}  // namespace kovcli
