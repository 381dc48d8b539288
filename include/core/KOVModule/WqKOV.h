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
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionHandlers.h>
#include <KOVModule/KOVTransactionRecoveryDetails.h>
#include <KOVModule/KOVTransactionType.h>
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/NSStringDictionary.h>
#include <KOVModule/WqXMLDocument.h>
#include <KOVModule/KOVEndpointPolicy.h>

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
  /// Spaces retries for transactions begun afterwards: after a URL-layer failure the next
  /// poll is sent no sooner than this many seconds after the failed request was sent (a
  /// failure that took longer is retried at once). 0, the default, retries at once. The
  /// count, the log lines and the time-out result are unchanged. Needs a main queue with
  /// timers (setMainQueue); without one, retries go at once. Bounded to 0..3600.
  void setRetrySpacing(double seconds);
  /// The spacing set by setRetrySpacing, in seconds.
  double retrySpacing() const;
  /// Journals the transactions begun afterwards (null: none, the default). Each start then
  /// needs a txnRef the journal does not hold yet, and is refused when the journal cannot be
  /// read or written; the entry is committed before the first request leaves. A final answer
  /// is kept before the result handler runs and marked delivered after it returns; a
  /// time-out result leaves the transaction unfinished. A recovery of a reference whose
  /// result the journal holds hands that result over again without asking the service.
  void setJournal(std::shared_ptr<KOVJournal> journal);
  const std::shared_ptr<KOVJournal>& journal() const;
  /// The journalled transactions not delivered yet, the oldest first, to be recovered at
  /// start-up (empty without a journal); nullopt, and why, when the journal cannot be read.
  std::optional<std::vector<KOVJournalEntry>> pendingTransactions(std::string* why = nullptr) const;
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
  /// KOVEndpointPolicy::isAcceptable.
  static bool isAcceptableEndpointUrl(const std::string& url, std::string* why = nullptr);

  // ---- Transactions ----

  /// Starts a new transaction with the host's record (kept by reference). A record with a
  /// field that cannot be written as XML text (not UTF-8, a control character) or an amount
  /// that cannot be written exactly is refused: nothing is sent, and the result handler gets
  /// KOVTransactionResultFailed with a responseText naming the field.
  void startTransaction(std::shared_ptr<KOVTransactionDetails> txnDetails, KOVTransactionType txnType,
                        bool useUAT, bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                        StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                        KOVTransactionSignatureReceiptHandler signatureReceiptHandler);
  /// Follows an earlier transaction, named by its reference, to its result.
  void recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, bool useUAT,
                          bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                          StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                          KOVTransactionSignatureReceiptHandler signatureReceiptHandler);
  /// True from a start or recover until its result has been delivered.
  bool isTransactionInProgress() const;

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
