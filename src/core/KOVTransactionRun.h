#pragma once
// One transaction, from its first request to its one result.
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionHandlers.h>
#include <KOVModule/KOVTransactionType.h>
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/NSStringDictionary.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/KOVAnswerDecoder.h"

/// Everything one start or recover owns: the request record, the handlers, the session,
/// the failure count, the poll time-out and the one poll in flight. Completions hold the
/// run weakly, so the answers of a replaced transaction find nothing, and an ended run
/// takes no answer. Both endings go through finish().
class KOVTransactionRun : public std::enable_shared_from_this<KOVTransactionRun> {
 public:
  /// What a run needs from the engine, handed over once.
  struct Wiring {
    KOVURLSessionFactory sessionFactory;
    std::shared_ptr<KOVMainQueue> mainQueue;
    std::string url;
    std::unique_ptr<KOVURLSession> session;  ///< kept from a transaction that timed out
    /// Least time from sending a loop request to sending the poll after its failure.
    std::chrono::milliseconds retrySpacing{0};
    /// Where the transaction is journalled (null: nowhere), and its entry as saved at the start.
    std::shared_ptr<KOVJournal> journal;
    KOVJournalEntry journalEntry;
  };
  /// The host's closures and debug settings for this transaction.
  struct Handlers {
    bool debugMode = false;
    KOVTransactionDebugLogHandler debugLog;
    StatusChangeHandler statusChange;
    KOVTransactionResultHandler result;
    KOVTransactionSignatureReceiptHandler signatureReceipt;
  };

  KOVTransactionRun(std::shared_ptr<KOVTransactionDetails> details, KOVTransactionType type,
                    std::optional<std::string> typeName, bool isUAT, Handlers handlers, Wiring wiring);
  ~KOVTransactionRun();
  KOVTransactionRun(const KOVTransactionRun&) = delete;
  KOVTransactionRun& operator=(const KOVTransactionRun&) = delete;

  /// Posts the first request: the transaction request, or a status request for a recovery.
  void begin(bool transactionRequest);
  /// One answer of the polling loop (also one the host hands in).
  void onAnswer(const std::optional<std::string>& data, const std::optional<KOVURLResponse>& response,
                const std::optional<KOVError>& error);
  /// Presses a terminal button, then polls once; the poll supersedes the one in flight.
  void press(const std::string& buttonId, const std::optional<std::string>& label);
  /// Reports a screen to the status change handler (and the signature receipt on entry).
  void report(const KOVScreen& screen);
  /// Ends the transaction with a complete answer's record: session released, state reset.
  void complete(KOVTransactionResultDetails record);
  /// Posts a document; the answer goes to completion once. 0 when nothing could be posted.
  KOVRequestId post(const std::string& document, const std::string& logText, ResponseHandler completion,
                    double timeoutSeconds);
  void releaseSession();
  /// The session, for the next transaction after this one timed out.
  std::unique_ptr<KOVURLSession> takeSession();
  void log(KOVTransactionLogEntryType type, const std::string& entry) const;

  bool ended() const { return _ended; }
  const std::shared_ptr<KOVTransactionDetails>& details() const { return _details; }
  KOVTransactionType type() const { return _type; }
  const std::optional<std::string>& typeName() const { return _typeName; }
  bool isUAT() const { return _isUAT; }
  KOVState state() const { return _state; }
  int32_t failures() const { return _failures; }
  int32_t timeoutSeconds() const { return _timeoutSeconds; }
  bool debugMode() const { return _handlers.debugMode; }
  bool hasSession() const { return _wiring.session != nullptr; }
  bool hasResultHandler() const { return static_cast<bool>(_handlers.result); }

  /// Saves the entry at a stage after the request has left, where a failed save must not
  /// hide the result: the text of the error entry that reports it, if it failed.
  static std::optional<std::string> markStage(KOVJournal& journal, KOVJournalEntry& entry, KOVJournalStage stage);

 private:
  void onFailure(const std::string& reason);
  void retry();
  void poll();
  void sendStatusRequest();
  void sendLoopRequest(const std::string& document, const std::string& logText);
  /// Ends the transaction and hands the record over; a final answer (not the time-out
  /// result) is journalled before the handler runs, and marked delivered after it returns.
  void finish(KOVTransactionResultDetails record, bool answered);
  void journal(KOVJournalStage stage, const KOVTransactionResultDetails* result);

  std::shared_ptr<KOVTransactionDetails> _details;
  KOVTransactionType _type;
  std::optional<std::string> _typeName;
  bool _isUAT;
  Handlers _handlers;
  Wiring _wiring;
  KOVState _state = KOVStateInit;
  int32_t _failures = 0;
  int32_t _timeoutSeconds;
  bool _ended = false;
  // The loop's request in flight; a poll that supersedes it makes its answer unwanted.
  uint64_t _pollSeq = 0;
  std::optional<KOVRequestId> _pollInFlight;
  KOVMainQueue::Clock::time_point _pollSentAt;  // kept only when retries are spaced
};
