#pragma once
#include <cstdint>

/// The kind of transaction the host asks for.
enum KOVTransactionType : uint32_t {
  KOVTransactionTypePurchase = 0,
  KOVTransactionTypeAuth = 1,
  KOVTransactionTypeComplete = 2,
  KOVTransactionTypeRefund = 3,
  KOVTransactionTypeVoid = 4,
};
