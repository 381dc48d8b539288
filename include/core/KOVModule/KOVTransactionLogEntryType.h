#pragma once
#include <cstdint>

/// The kind of a debug log entry.
enum KOVTransactionLogEntryType : uint32_t {
  KOVTransactionLogEntryRequestContent = 0,  ///< an outgoing document, key masked
  KOVTransactionLogEntryResponseContent = 1, ///< the text of an answer
  KOVTransactionLogEntryError = 2,           ///< declared; never emitted
  KOVTransactionLogEntryInfo = 3,            ///< retry and configuration messages
};
