#pragma once
#include <cstdint>
#include <string>

#include <KOVModule/KOVTransactionResult.h>

/// Why a start or recovery is refused before anything is sent.
enum KOVRefusalKind : uint32_t {
  /// The record cannot be sent as the host meant it (KOVRecordCheck), or a recovery names
  /// another station or user than the journal holds for the reference.
  KOVRefusalRecord = 0,
  /// The journal holds the reference for a payment that ended, or for another payment: a
  /// reference is never used for a second payment.
  KOVRefusalDuplicateReference = 1,
  /// The journal cannot be read or written.
  KOVRefusalJournal = 2,
  /// A transaction already runs on the engine.
  KOVRefusalBusy = 3,
};

/// A refusal before anything is sent: what the result handler of the refused call gets, and
/// why, in the words its responseText carries.
struct KOVRefusal {
  KOVRefusalKind kind = KOVRefusalRecord;
  KOVTransactionResult result = KOVTransactionResultFailed;
  std::string reason;  ///< empty for KOVRefusalBusy, whose record carries no text
};
