#pragma once
// Command line of kov-cli: which transaction to run and with which record.
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionRecoveryDetails.h>
#include <KOVModule/KOVTransactionType.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kovcli {

struct CliOptions {
  bool help = false;
  bool recover = false;                 // the "recover" command
  KOVTransactionType txnType = KOVTransactionTypePurchase;
  KOVTransactionDetails details;        // for the five transaction commands
  KOVTransactionRecoveryDetails recovery;
  bool uat = false;
  bool debug = false;
  std::optional<std::string> endpoint;  // both endpoints
  std::optional<std::string> caFile;
};

/// A usage error, said in one line.
struct CliUsageError {
  std::string message;
};

/// Parses the arguments after the program name.
std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& args);

/// The line a usage error is reported with on stderr, ending with the hint to --help.
std::string usageErrorLine(const std::string& message);

/// The --help text.
const char* cliUsage();

}  // namespace kovcli
