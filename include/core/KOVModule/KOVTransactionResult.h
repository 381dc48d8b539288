#pragma once
#include <cstdint>

/// The outcome of a transaction, as handed to the host's result handler.
enum KOVTransactionResult : uint32_t {
  KOVTransactionResultSucceeded = 0,
  KOVTransactionResultFailed = 1,
  KOVTransactionResultInvalidTransactionType = 2,
  KOVTransactionResultUserKeyNotMatched = 3,
  KOVTransactionResultStationPrefixError = 4,
  KOVTransactionResultExistingRequestInProgress = 5,
  KOVTransactionResultTransmitError = 6,
  KOVTransactionResultSessionInitError = 7,
  KOVTransactionResultUserIDNotMatched = 8,
  KOVTransactionResultTerminalNotConnected = 9,
  KOVTransactionResultTimeout = 10,
};
