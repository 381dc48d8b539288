#include "CliOptions.h"

#include <KOVModule/KOVDecimal.h>

#include <array>
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
         "Runs one transaction and prints its result record as JSON on stdout.\n"
         "\n"
         "Request record (an option not given leaves the field null; an empty value sets the empty text):\n"
         "  --user TEXT  --key TEXT  --station TEXT  --txn-ref TEXT\n"
         "  --amount DECIMAL  --currency TEXT  --qel-txn-ref TEXT  --device-id TEXT\n"
         "  --pos-name TEXT  --pos-version TEXT  --vendor-id TEXT  --merchant-ref TEXT\n"
         "  --url-success TEXT  --url-fail TEXT\n"
         "  --skip-signature   answer the signature step on the operator's behalf\n"
         "recover takes --user, --key, --station, --txn-ref and --skip-signature.\n"
         "\n"
         "Service:\n"
         "  --uat              use the test endpoint (default: production)\n"
         "  --endpoint URL     use this URL for both endpoints (https, or http on loopback)\n"
         "  --ca-file PEM      also trust the certificates in this file\n"
         "  --debug            debug mode; every log entry on stderr as {\"log\":KIND,\"entry\":TEXT}\n"
         "  --help             this text\n"
         "\n"
         "stderr: one JSON line per screen update and per signature receipt.\n"
         "stdin: a line B1 or B2 presses that button with the label last shown.\n"
         "Exit status: 0 approved, 1 any other result, 2 bad usage.\n";
}

std::string usageErrorLine(const std::string& message) {
  return "kov-cli: " + message + " (see kov-cli --help)";
}

std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& args) {
  CliOptions options;
  std::optional<std::string> command;
  std::vector<std::string> transactionOnly;  // options that recover does not take

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
    } else if (name == "--endpoint" || name == "--ca-file" || name == "--amount") {
      const auto value = takeValue();
      if (!value) return CliUsageError{"option " + name + " needs a value"};
      if (name == "--endpoint") {
        options.endpoint = value;
      } else if (name == "--ca-file") {
        options.caFile = value;
      } else {
        options.details.amount = KOVDecimal::parse(*value);
        if (!options.details.amount) {
          return CliUsageError{"--amount needs a plain decimal number such as 12.50, not '" + *value + "'"};
        }
        if (!options.details.amount->scaledToInt64(2)) {
          return CliUsageError{"--amount '" + *value + "' cannot be sent: in cents it does not fit in 64 bits"};
        }
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
    return CliUsageError{"no command given (purchase, auth, complete, refund, void or recover)"};
  }
  if (*command == "recover") {
    if (!transactionOnly.empty()) {
      return CliUsageError{"option " + transactionOnly.front() + " does not apply to recover"};
    }
    options.recover = true;
    options.recovery.userName = options.details.userName;
    options.recovery.key = options.details.key;
    options.recovery.stationId = options.details.stationId;
    options.recovery.txnRef = options.details.txnRef;
    options.recovery.skipSignatureVerification = options.details.skipSignatureVerification;
    return options;
  }
  for (const Command& candidate : kCommands) {
    if (candidate.name == *command) {
      options.txnType = candidate.type;
      return options;
    }
  }
  return CliUsageError{"unknown command '" + *command + "'"};
}

}  // namespace kovcli
