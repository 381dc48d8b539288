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
  bool pending = false;                 // the "pending" command
  bool forget = false;                  // the "forget" command
  KOVTransactionType txnType = KOVTransactionTypePurchase;
  KOVTransactionDetails details;        // for the five transaction commands
  KOVTransactionRecoveryDetails recovery;
  bool uat = false;
  bool debug = false;
  std::optional<std::string> endpoint;  // both endpoints
  std::optional<std::string> caFile;
  double retrySpacing = 0;              // seconds; 0: retries at once
  std::optional<std::string> journal;   // the journal file
};

/// A usage error, said in one line.
struct CliUsageError {
  std::string message;
};

/// Parses the arguments after the program name; what is wrong with the record itself is the
/// engine's check, made before anything is sent (runTransaction). The key comes from --key,
/// else from the first line of --key-file, else from kovKeyVariable (the environment's
/// KOV_KEY; empty counts as unset).
std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& args,
                                                        const std::optional<std::string>& kovKeyVariable = std::nullopt);

/// The line a usage error is reported with on stderr, ending with the hint to --help.
std::string usageErrorLine(const std::string& message);

/// The --help text.
const char* cliUsage();

}  // namespace kovcli
