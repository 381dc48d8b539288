#pragma once
#include <optional>
#include <string>

/// Identifies an earlier transaction to follow to its result.
struct KOVTransactionRecoveryDetails {
  std::optional<std::string> userName;    ///< as in KOVTransactionDetails
  std::optional<std::string> key;         ///< as in KOVTransactionDetails
  std::optional<std::string> stationId;   ///< as in KOVTransactionDetails
  std::optional<std::string> txnRef;      ///< the reference the transaction was started with
  bool skipSignatureVerification = false; ///< for the rest of the recovered transaction
};
