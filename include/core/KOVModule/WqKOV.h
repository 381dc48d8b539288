#pragma once
#include <KOVModule/KOVExport.h>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVRecordCheck.h>
#include <KOVModule/KOVRefusal.h>
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionHandlers.h>
#include <KOVModule/KOVTransactionOutcome.h>
#include <KOVModule/KOVTransactionRecoveryDetails.h>
#include <KOVModule/KOVTransactionType.h>
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/NSStringDictionary.h>
#include <KOVModule/WqXMLDocument.h>

/// The test endpoint used when useUAT is true (unless the host configured another).
extern KOV_CORE_EXPORT const char* const kWqKOVUATUrl;
/// The production endpoint used when useUAT is false (unless the host configured another).
extern KOV_CORE_EXPORT const char* const kWqKOVSecUrl;

/// The text with the value of its first key="..." attribute replaced by "......".
KOV_CORE_EXPORT std::string sanitizeXml(const std::string& xml);

/// The transaction engine: holds the one running transaction, posts its documents,
/// polls the service, reports the terminal's screen and delivers one result.
/// Everything runs on the host's main thread.
class KOV_CORE_EXPORT WqKOV {
 public:
  /// The process-wide engine, created on first use.
  static WqKOV& get();

  WqKOV();
  ~WqKOV();
  WqKOV(const WqKOV&) = delete;
  WqKOV& operator=(const WqKOV&) = delete;

  // ---- Wiring to the platform ----

  /// Sets how sessions are made (the Qt layer installs its transport here). A session kept
  /// after a time-out result is dropped: the next transaction uses the new factory.
  void setSessionFactory(KOVURLSessionFactory factory);
  /// How retries of transactions begun afterwards are spaced. By default (a negative value
  /// restores it) the poll after a URL-layer failure waits a growing delay from the failed
  /// request's sending: 0.25 s, doubled after each failure in a row up to 4 s, each within
  /// ±20 % (so tills do not retry in step), nine failures spanning at least 10 s. A spacing
  /// above 0 waits that many seconds instead (at most 3600); 0 retries at once. A 503 or 429
  /// answer with Retry-After waits what it asks, at most 30 s. The count, the log lines and the
  /// time-out result are unchanged. Needs a main queue with timers (setMainQueue); without
  /// one, retries go at once.
  void setRetrySpacing(double seconds);
  /// The spacing set by setRetrySpacing, in seconds; -1 for the default growing delay.
  double retrySpacing() const;
  /// The least time between the sending of two status polls in a row of transactions begun
  /// afterwards (0.2 s by default, 0 for none; a negative value restores the default, at most
  /// 60): a service or gateway that answers at once is not polled thousands of times a
  /// second. A poll held longer than this is not delayed; a button request and the poll right
  /// after it are not held back.
  void setPollFloor(double seconds);
  double pollFloor() const;
  /// How long a transaction begun afterwards may run without a final answer (600 s by default;
  /// a value of 0 or below restores it; at most 86400). When it passes, the engine asks the
  /// terminal to cancel (cancelTransaction), and gives the time-out result, saying why, if no
  /// final answer follows within one more poll: recover it later. Needs a main queue with timers.
  void setTransactionDeadline(double seconds);
  double transactionDeadline() const;
  /// Journals the transactions begun afterwards (null: none, the default). Each start then
  /// needs a txnRef, and is refused when the journal cannot be read or written; the entry is
  /// committed before the first request leaves. A start of a reference the journal holds
  /// follows that payment to its outcome when its type, amount, currency, station and user
  /// are the same and it has not been delivered (sending no second transaction request, or
  /// sending it again when it provably never left); any other is refused with
  /// KOVTransactionResultExistingRequestInProgress. A final answer is kept before the result
  /// handler runs and marked delivered after it returns (or once acknowledged); a time-out
  /// leaves the transaction to be recovered. A recovery settles the entry only with an answer
  /// about the payment (approved, or not approved): a refusal of the status request leaves it
  /// pending. It asks with the journal's station and user when the host gives none, and is
  /// refused with another. A result the journal holds is handed over again without asking
  /// the service.
  void setJournal(std::shared_ptr<KOVJournal> journal);
  const std::shared_ptr<KOVJournal>& journal() const;
  /// The journalled transactions not delivered yet, the oldest first, to be recovered at
  /// start-up (empty without a journal); nullopt, and why, when the journal cannot be read.
  std::optional<std::vector<KOVJournalEntry>> pendingTransactions(std::string* why = nullptr) const;
  /// With acknowledged delivery, a result stays answered in the journal (listed as pending,
  /// with the result) until the host calls acknowledge(); a crash before that hands the same
  /// result over again on restart. Off by default: a result is delivered once its handler
  /// has returned.
  void setAcknowledgedDelivery(bool acknowledgedDelivery);
  bool acknowledgedDelivery() const;
  /// The host has taken the result of txnRef over: the journal marks it delivered. A
  /// reference whose result has not arrived (a time-out, a refused recovery) stays to be
  /// recovered; one the journal does not hold, or holds delivered, changes nothing. False,
  /// and why, when the journal cannot be read or written.
  bool acknowledge(const std::string& txnRef, std::string* why = nullptr);
  /// Removes txnRef from the journal, whatever its stage, for an operator who settled it by
  /// other means; logged (see setDebugLog). False, and why, without a journal, for a
  /// reference it does not hold or that is running, or when it cannot be written.
  bool forget(const std::string& txnRef, std::string* why = nullptr);
  /// Sets the queue that runs deferred deliveries on the main thread. Without one,
  /// deferred deliveries run at once.
  void setMainQueue(std::shared_ptr<KOVMainQueue> mainQueue);
  /// Points the engine at other endpoints (certification, a proxy, the simulator).
  /// Accepts https URLs, and http URLs only for a loopback host. Returns false, changes
  /// nothing and logs the reason (see setDebugLog) for anything else.
  bool setEndpointUrls(const std::string& uatUrl, const std::string& secUrl);
  /// The host's debug settings outside any transaction: refused endpoints are logged to
  /// this handler while debugMode is on, whatever the engine is doing. The facade passes
  /// its own settings here.
  void setDebugLog(bool debugMode, KOVTransactionDebugLogHandler debugLogHandler);
  /// Back to kWqKOVUATUrl and kWqKOVSecUrl.
  void resetEndpointUrls();
  /// The URL every request goes to for the given endpoint choice.
  const std::string& endpointUrl(bool useUAT) const;
  /// kov::EndpointPolicy::isAcceptable.
  static bool isAcceptableEndpointUrl(const std::string& url, std::string* why = nullptr);

  // ---- Transactions ----

  /// Starts a new transaction with the host's record (kept by reference). A record that
  /// cannot be sent as given (KOVRecordCheckFacade: text a parser would not read back as
  /// given, a negative amount ...) is refused: nothing is sent, and the result handler gets
  /// KOVTransactionResultFailed with a responseText naming the field. See setJournal for a
  /// journalled reference.
  void startTransaction(std::shared_ptr<KOVTransactionDetails> txnDetails, KOVTransactionType txnType,
                        bool useUAT, bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                        StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                        KOVTransactionSignatureReceiptHandler signatureReceiptHandler);
  /// Follows an earlier transaction, named by its reference, to its result.  A refusal before
  /// anything is sent gives a result other than approved or not approved (a station or user
  /// other than the journal's: KOVTransactionResultStationPrefixError or
  /// KOVTransactionResultUserIDNotMatched; a journal that cannot be read:
  /// KOVTransactionResultTimeout), except for a record that cannot be sent at all (Failed).
  void recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, bool useUAT,
                          bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                          StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                          KOVTransactionSignatureReceiptHandler signatureReceiptHandler);
  /// True from a start or recover until its result has been delivered.
  bool isTransactionInProgress() const;
  /// Why startTransaction would refuse the record before sending anything, checked at level,
  /// journal included; nullopt when it would go ahead. Nothing is sent or written.
  std::optional<KOVRefusal> refusalOfStart(const KOVTransactionDetails& txnDetails, KOVTransactionType txnType,
                                           KOVRecordCheckLevel level) const;
  /// The same for recoverTransaction.
  std::optional<KOVRefusal> refusalOfRecovery(const KOVTransactionRecoveryDetails& txnRecoveryDetails,
                                              KOVRecordCheckLevel level) const;
  /// Asks the terminal to cancel the running transaction: presses the button of the current
  /// screen whose label reads CANCEL, or the first such button that appears; the signature
  /// step is no longer answered on the operator's behalf. The transaction then runs on to the
  /// service's final result, which the result handler gets (an approval that came too late
  /// to stop is reported as approved). False when no transaction runs.
  bool cancelTransaction();
  /// How the transaction whose result was handed over last ended, beside its record: why it is
  /// not the service's answer (a time-out's last failure, a refusal) and whether its request
  /// can have reached the service. Read it in the result handler.
  KOVTransactionOutcome lastOutcome() const;

  // ---- Transport ----

  /// Posts a document to the current endpoint; the answer goes to responseHandler once.
  /// Returns the request's identifier (0 when nothing could be posted).
  KOVRequestId sendRequest(const std::string& postDataStr, ResponseHandler responseHandler, float timeoutInterval);
  /// Cancels everything outstanding and drops the session; the next request makes a new one.
  void releaseSession();
  /// Hands an entry to the debug log handler, if there is one.
  void doDebugLog(KOVTransactionLogEntryType entryType, const std::string& logEntry);

  // ---- Answers ----

  /// Hands the running transaction one answer of its loop (URL-layer failure, auto-answer,
  /// completion, or screen update followed by the next poll). Nothing once it has ended.
  void processStatusResponse(const std::optional<std::string>& responseData, const std::optional<KOVError>& error);
  /// The integer under path read by the platform's intValue rules, or defaultValue if absent.
  static int32_t getIntValue(const NSStringDictionary& dictionary, const std::string& path, int32_t defaultValue);
  /// The text under path, or defaultValue if absent (a present empty text stays empty).
  static std::optional<std::string> getStrValue(const NSStringDictionary& dictionary, const std::string& path,
                                                const std::optional<std::string>& defaultValue);
  /// The screen state of a first display line.
  static KOVState stateLineToState(const std::string& stateLine, bool isCompleted);
  /// Reports an unfinished answer's screen to the running transaction's status handler.
  void triggerStatusUpdate(const NSStringDictionary& response);
  /// Cuts text into lines of segmentWidth UTF-16 units, each ended by CR LF; nullopt for
  /// none or empty text. A width of 0 or below gives the whole text as one line; a
  /// surrogate pair is never split (such a line takes one unit more).
  static std::optional<std::string> segmentString(const std::optional<std::string>& string, int32_t segmentWidth);
  /// Presses a terminal button ("B1" or "B2") with its label, then polls once. A label that
  /// cannot be written as XML text is not sent.
  void sendButtonRequest(const std::string& buttonId, const std::optional<std::string>& buttonValue);
  /// Presses the yes button of a signature step on the operator's behalf; true if it did.
  /// (The running transaction's skip flag is looked at by the caller, not here.)
  bool skipSignatureVerification(const NSStringDictionary& result);
  /// Ends the running transaction with the result record of a complete answer (once).
  void processTransactionEnd(std::shared_ptr<NSStringDictionary> response);
  /// The result code of an unapproved answer's response code (case-insensitive).
  static KOVTransactionResult reCoToResultType(const std::string& reco);

  // ---- Request documents ----

  /// Wire name of a type ("Purchase" ...); "" outside 0..4.
  static std::string txnTypeToStr(KOVTransactionType txnType);
  /// Name of the current type; "Error" outside 0..4.
  std::string transactionTypeToStr() const;
  /// The skeleton shared by every request: Scr with action, user, key and TxnRef.
  std::shared_ptr<WqXMLDocument> createTxnDocument() const;
  /// The amount with two decimals, cut (never rounded) toward zero; "0.00" for none;
  /// negative amounts as "-3.50". nullopt when the amount does not fit in 64 bits of cents.
  static std::optional<std::string> decimalToString(const std::optional<KOVDecimal>& decimalValue);
  /// The transaction request; nullopt when its amount cannot be written.
  std::optional<std::string> generateRequest() const;
  /// The status request.
  std::string generateStatusRequest() const;
  /// The button request.
  std::string generateButtonRequest(const std::string& buttonName, const std::optional<std::string>& buttonValue) const;

  // ---- Read-only view of the current (or last) transaction ----

  const std::shared_ptr<KOVTransactionDetails>& currentTxnDetails() const;
  KOVTransactionType currentTxnType() const;
  const std::optional<std::string>& currentTxnTypeStr() const;
  bool isUAT() const;
  KOVState currentState() const;
  int32_t numberOfConsecutiveTimeouts() const;
  int32_t maxNumberOfOfConsecutiveTimeouts() const;
  int32_t currentTimeoutInSeconds() const;
  bool debugMode() const;
  bool hasSession() const;
  bool hasResultHandler() const;
  /// Whether a session factory has been set (the Qt layer installs its own only when none is).
  bool hasSessionFactory() const;

 private:
  struct Private;
  std::unique_ptr<Private> d;
};
