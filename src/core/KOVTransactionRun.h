#pragma once
// One transaction, from its first request to its one result.
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionHandlers.h>
#include <KOVModule/KOVTransactionOutcome.h>
#include <KOVModule/KOVTransactionType.h>
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/NSStringDictionary.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/KOVAnswerDecoder.h"
#include "core/KOVPacing.h"

/// The result handler as the engine gives it to a run: the record, and how it came about.
using KOVRunResultHandler = std::function<void(KOVTransactionResultDetails, const KOVTransactionOutcome&)>;

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
    /// When the polls may go.
    KOVPacingSettings pacing;
    /// How long the transaction may run without a final answer (0: without limit).
    std::chrono::milliseconds deadline{0};
    /// Where the transaction is journalled (null: nowhere), and its entry as saved at the start.
    std::shared_ptr<KOVJournal> journal;
    KOVJournalEntry journalEntry;
    /// The run sends its own transaction request, whose final answer settles the entry
    /// whatever its result; a recovery (or a start that follows an earlier request) settles it
    /// only with an answer about the payment: approved, or not approved.
    bool settlesWithAnyResult = true;
    /// The result stays answered in the journal until the host acknowledges it.
    bool acknowledgedDelivery = false;
  };
  /// The host's closures and debug settings for this transaction.
  struct Handlers {
    bool debugMode = false;
    KOVTransactionDebugLogHandler debugLog;
    StatusChangeHandler statusChange;
    KOVRunResultHandler result;
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
  /// The host asks to cancel: CANCEL is pressed now if the screen shows it, else when one
  /// shows it; the signature is no longer answered on the operator's behalf.
  void cancel();
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
  /// hide the result: whether it was saved, and the error entries to log (the failure, and
  /// what the journal did on its own) appended to logEntries.
  static bool markStage(KOVJournal& journal, KOVJournalEntry& entry, KOVJournalStage stage,
                        std::vector<std::string>& logEntries);

 private:
  void onFailure(const KOVPollFailure& failure);
  /// The deadline passed: the terminal is asked to cancel, and the next answer that is not
  /// final ends the transaction.
  void onDeadline();
  /// Whether the answer at hand came to a poll sent after the deadline: the last one waited for.
  bool pastDeadline() const { return _deadlinePassed && _answerSeq > _deadlineSeq; }
  void endAtDeadline();
  /// The transaction request's completion: whether any of it can have left.
  void onTransactionRequestEnded(const std::optional<KOVError>& error);
  void pressCancel(const KOVPressButton& button);
  void retry(std::optional<std::chrono::milliseconds> retryAfter);
  /// Polls, superseding the request in flight: at once after a press, else no sooner than the
  /// floor allows.
  void poll(bool afterPress = false);
  /// Sends the next status poll at the given time (now, or later from the main queue), unless
  /// another loop request went out meanwhile.
  void pollAt(KOVPacing::TimePoint at);
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
  bool _requestSent = true;  // the transaction request may have reached the service
  uint64_t _jitterSeed;      // spreads this transaction's retries apart from another till's
  std::string _lastFailure;  // the last URL-layer failure, in plain words
  KOVCancelState _cancel = KOVCancelState::None;
  std::optional<KOVPressButton> _shownCancel;  // the CANCEL of the screen shown last
  uint64_t _transactionRequestSeq = 0;         // the loop sequence of the transaction request
  uint64_t _answerSeq = 0;                     // the loop sequence of the answer at hand
  bool _deadlinePassed = false;
  uint64_t _deadlineSeq = 0;                   // the last loop request sent before the deadline
  // The loop's request in flight; a poll that supersedes it makes its answer unwanted.
  uint64_t _pollSeq = 0;
  std::optional<KOVRequestId> _pollInFlight;
  KOVMainQueue::Clock::time_point _lastSentAt;  // the last loop request's sending, with a main queue
};
