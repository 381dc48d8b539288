#pragma once
#include <KOVModule/KOVExport.h>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <KOVModule/KOVTransactionResultDetails.h>

/// How far a journalled transaction has come.
enum KOVJournalStage : uint32_t {
  /// Its first request is about to leave (a transaction request, or a recovery's first poll):
  /// the outcome is not known to the till.
  KOVJournalStageSent = 0,
  /// The final answer has arrived and is kept; the host has not taken it over yet (its result
  /// handler has not returned, or, with acknowledged delivery, it has not acknowledged it).
  KOVJournalStageAnswered = 1,
  /// The host has taken the result over: its result handler returned, or it acknowledged it.
  KOVJournalStageDelivered = 2,
};

namespace kov {
/// The stage's name as the journal's surfaces show it: "sent", "answered", "delivered".
KOV_CORE_EXPORT const char* journalStageName(KOVJournalStage stage);
}  // namespace kov

/// One transaction as the journal keeps it: what was asked, and what came of it. The merchant
/// key is never part of it.
struct KOVJournalEntry {
  std::string txnRef;                      ///< the key of the entry
  std::optional<std::string> txnType;      ///< wire name ("Purchase" ...); none for a recovery of an unknown reference
  std::optional<std::string> stationId;
  std::optional<std::string> amount;       ///< as sent ("12.50")
  std::optional<std::string> currencyCode;
  std::optional<std::string> userName;
  std::optional<std::string> merchantRef;
  std::chrono::system_clock::time_point startedAt;
  KOVJournalStage stage = KOVJournalStageSent;
  std::optional<KOVTransactionResultDetails> result;  ///< the final result, from KOVJournalStageAnswered on
  /// False only when the transaction request provably never left (no byte of it was written):
  /// a start with the same fields then sends it instead of following it. True while that is
  /// not certain, and for a recovery's entry.
  bool requestSent = true;
  /// When the host acknowledged the result (acknowledged delivery); none otherwise.
  std::optional<std::chrono::system_clock::time_point> acknowledgedAt;
};

/// Where the engine keeps its transactions so that a till that crashes, loses power or loses
/// its result learns on restart which payments to recover, and gets a result that had already
/// arrived without asking the service again. Given to the engine with WqKOV::setJournal;
/// KOVSqliteJournal (KOVModule::Journal) is the library's own. Used on the engine's thread.
class KOV_CORE_EXPORT KOVJournal {
 public:
  virtual ~KOVJournal();
  /// Writes the entry in place of any with its reference and makes it durable before
  /// returning; false, and why, when it could not.
  virtual bool save(const KOVJournalEntry& entry, std::string* why) = 0;
  /// Reads the entry of a reference into found (nullopt when there is none); false, and
  /// why, when the journal cannot be read.
  virtual bool find(const std::string& txnRef, std::optional<KOVJournalEntry>& found, std::string* why) = 0;
  /// Every entry not delivered, the oldest first; false, and why, when the journal cannot
  /// be read.
  virtual bool unfinished(std::vector<KOVJournalEntry>& entries, std::string* why) = 0;
  /// Deletes the entry of a reference, durably (none: nothing to do); false, and why, when it
  /// could not.
  virtual bool forget(const std::string& txnRef, std::string* why) = 0;
  /// What the journal did on its own since the last call and the host should hear of (its
  /// file deleted or replaced under it and written anew); the engine logs each text.
  virtual std::vector<std::string> takeNotices();
};
