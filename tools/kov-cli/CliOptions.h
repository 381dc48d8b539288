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

/// Everything the command line asks for, read and checked as far as it can be without the
/// engine.
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
  // Pacing, in seconds; unset leaves the engine's default (retries spaced by a growing delay,
  // polls at least 0.2 s apart, 600 s without a final answer).
  std::optional<double> retrySpacing;
  std::optional<double> pollFloor;
  std::optional<double> deadline;
  std::optional<std::string> journal;   // the journal file
};

/// A usage error, said in one line.
struct CliUsageError {
  std::string message;
};

/// Parses the arguments after the program name; what is wrong with the record itself is the
/// engine's check, made before anything is sent (runTransaction). The key comes from exactly
/// one of --key, --key-file (its first line) and kovKeyVariable (the environment's KOV_KEY;
/// empty counts as unset).
std::variant<CliOptions, CliUsageError> parseCliOptions(const std::vector<std::string>& args,
                                                        const std::optional<std::string>& kovKeyVariable = std::nullopt);

/// The line a usage error is reported with on stderr, ending with the hint to --help.
std::string usageErrorLine(const std::string& message);

/// The --help text.
std::string cliUsage();

}  // namespace kovcli
