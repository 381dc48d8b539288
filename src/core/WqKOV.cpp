// The engine hosts call: process-wide wiring and settings, and the current transaction
// run, to which every transaction operation is handed.
#include <KOVModule/WqKOV.h>

#include <KOVModule/KOVXmlUtils.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/KOVAnswerDecoder.h"
#include "core/KOVDocumentWriter.h"
#include "core/KOVTransactionRun.h"
#include "core/WqKOVLimits.h"

const char* const kWqKOVUATUrl = "https://uat.kov-payments.example/wqmi3/pos.aspx";
const char* const kWqKOVSecUrl = "https://secure.kov-payments.example/wqmi3/pos.aspx";

std::string sanitizeXml(const std::string& xml) {
  static constexpr std::string_view kKeyAttribute = "key=\"";
  const std::size_t found = xml.find(kKeyAttribute);
  if (found == std::string::npos) {
    return xml;
  }
  const std::size_t keyStartPos = found + kKeyAttribute.size();
  const std::size_t closingQuote = xml.find('"', keyStartPos);
  if (closingQuote == std::string::npos) {
    return xml;
  }
  std::string masked;
  masked.reserve(xml.size() + 6);
  masked.append(xml, 0, keyStartPos);
  masked.append("......");
  masked.append(xml, closingQuote, std::string::npos);
  return masked;
}

struct WqKOV::Private {
  KOVURLSessionFactory sessionFactory;
  uint64_t sessionFactoryGeneration = 0;  // tells a session of an earlier factory
  std::shared_ptr<KOVMainQueue> mainQueue;
  std::string uatUrl = kWqKOVUATUrl;
  std::string secUrl = kWqKOVSecUrl;
  std::chrono::milliseconds retrySpacing{0};
  std::shared_ptr<KOVJournal> journal;
  bool settingsDebugMode = false;
  KOVTransactionDebugLogHandler settingsDebugLog;
  // The running transaction, or the last one until the next begins.
  std::shared_ptr<KOVTransactionRun> run;
  uint64_t runSessionFactoryGeneration = 0;

  bool running() const { return run && !run->ended(); }

  void deliverLater(std::function<void()> work) const {
    if (mainQueue) {
      mainQueue->post(std::move(work));
    } else {
      work();
    }
  }

  void refuseStart(KOVTransactionResultHandler resultHandler, KOVTransactionResult result,
                   std::optional<std::string> responseText) const {
    if (!resultHandler) {
      return;
    }
    KOVTransactionResultDetails record = KOVTransactionResultDetails::initWithResult(result);
    record.responseText = std::move(responseText);
    // Delivered later, like every other result: the caller's start returns first.
    deliverLater([handler = std::move(resultHandler), record = std::move(record)]() mutable {
      handler(std::move(record));
    });
  }

  // The session a timed-out transaction kept open, if the next one may use it: made by the
  // factory that is set now, with the settings that hold now.
  std::unique_ptr<KOVURLSession> keptSession() {
    if (!run || runSessionFactoryGeneration != sessionFactoryGeneration) {
      return nullptr;
    }
    std::unique_ptr<KOVURLSession> session = run->takeSession();
    if (session && !session->canBeReused()) {
      session->invalidateAndCancel();
      session.reset();
    }
    return session;
  }

  // A new run takes over the session that a timed-out transaction kept open.
  void begin(std::shared_ptr<KOVTransactionDetails> details, KOVTransactionType type,
             std::optional<std::string> typeName, bool useUAT, KOVTransactionRun::Handlers handlers,
             bool transactionRequest, std::optional<KOVJournalEntry> journalEntry) {
    KOVTransactionRun::Wiring wiring{sessionFactory, mainQueue, useUAT ? uatUrl : secUrl, keptSession(),
                                     retrySpacing, journalEntry ? journal : nullptr,
                                     journalEntry.value_or(KOVJournalEntry{})};
    run = std::make_shared<KOVTransactionRun>(std::move(details), type, std::move(typeName), useUAT,
                                              std::move(handlers), std::move(wiring));
    runSessionFactoryGeneration = sessionFactoryGeneration;
    const std::shared_ptr<KOVTransactionRun> current = run;
    current->begin(transactionRequest);
  }

  // The journal's entry for a transaction about to begin, committed before its first request
  // leaves: a new one, or for a recovery the one the journal holds. The text of a refusal
  // when the start must not go ahead.
  struct Journalled {
    std::optional<KOVJournalEntry> entry;
    std::optional<std::string> refusal;
  };
  Journalled journalStart(const KOVTransactionDetails& details, const std::optional<std::string>& typeName,
                          bool recovery) const {
    if (!journal) {
      return {};
    }
    if (!details.txnRef || details.txnRef->empty()) {
      return {std::nullopt, std::string(kov::limits::kJournalNeedsReferenceText)};
    }
    std::optional<KOVJournalEntry> found;
    std::string why;
    if (!journal->find(*details.txnRef, found, &why)) {
      return {std::nullopt, std::string(kov::limits::kJournalUnreadableText) + why};
    }
    if (found && !recovery) {
      // The service may have taken the first: a reference is never sent as a new payment twice.
      return {std::nullopt, "The txnRef " + *details.txnRef +
                                " is in the journal already: recover it rather than start it again."};
    }
    if (found) {
      return {std::move(found), std::nullopt};
    }
    KOVJournalEntry entry;
    entry.txnRef = *details.txnRef;
    entry.txnType = typeName;
    entry.stationId = details.stationId;
    entry.amount = recovery ? std::nullopt : KOVDocumentWriter::amountText(details.amount);
    entry.currencyCode = details.currencyCode;
    entry.userName = details.userName;
    entry.merchantRef = details.merchantRef;
    entry.startedAt = std::chrono::system_clock::now();
    if (!journal->save(entry, &why)) {
      return {std::nullopt, std::string(kov::limits::kJournalUnwritableText) + why};
    }
    return {std::move(entry), std::nullopt};
  }

  // Whether a start or recovery may go ahead: nothing malformed goes on the wire (a field
  // that cannot be written as XML text, an amount that cannot be written exactly), nor
  // anything the journal refuses; a refusal ends it at once with the reason. Its journal
  // entry when it may go ahead.
  std::optional<std::optional<KOVJournalEntry>> admit(const KOVTransactionDetails& details,
                                                      const std::optional<std::string>& typeName, bool recovery,
                                                      KOVTransactionResultHandler& resultHandler) {
    std::optional<std::string> refusal = KOVDocumentWriter::refusalOf(details);
    Journalled journalled;
    if (!refusal) {
      journalled = journalStart(details, typeName, recovery);
      refusal = std::move(journalled.refusal);
    }
    if (refusal) {
      refuseStart(std::move(resultHandler), KOVTransactionResultFailed, std::move(refusal));
      return std::nullopt;
    }
    return std::move(journalled.entry);
  }

  // A result the journal kept is handed over again, later like every result, without asking
  // the service; it counts as delivered once the handler has returned.
  void handOver(KOVJournalEntry entry, KOVTransactionResultHandler resultHandler, bool debugMode,
                KOVTransactionDebugLogHandler debugLog) const {
    if (debugMode && debugLog) {
      debugLog(KOVTransactionLogEntryInfo, "KOV result of " + entry.txnRef + " taken from the journal.");
    }
    deliverLater([journal = journal, entry = std::move(entry), handler = std::move(resultHandler), debugMode,
                  debugLog = std::move(debugLog)]() mutable {
      if (!handler) {
        return;
      }
      handler(*entry.result);
      if (std::optional<std::string> failure =
              KOVTransactionRun::markStage(*journal, entry, KOVJournalStageDelivered);
          failure && debugMode && debugLog) {
        debugLog(KOVTransactionLogEntryError, *failure);
      }
    });
  }

  void logOutsideTransaction(const std::string& entry) const {
    // Endpoints are usually set before the first transaction, when only the host's own
    // debug settings exist; the last transaction's are the fallback.
    if (settingsDebugMode && settingsDebugLog) {
      settingsDebugLog(KOVTransactionLogEntryInfo, entry);
    } else if (run && run->debugMode()) {
      run->log(KOVTransactionLogEntryInfo, entry);
    }
  }
};

WqKOV& WqKOV::get() {
  static WqKOV instance;
  return instance;
}

WqKOV::WqKOV() : d(std::make_unique<Private>()) {}

WqKOV::~WqKOV() = default;

// ---- Wiring ----

void WqKOV::setSessionFactory(KOVURLSessionFactory factory) {
  d->sessionFactory = std::move(factory);
  ++d->sessionFactoryGeneration;
  // A session kept after a time-out was made by the old factory: the next transaction
  // uses the new one.
  if (d->run && d->run->ended()) {
    d->run->releaseSession();
  }
}

void WqKOV::setJournal(std::shared_ptr<KOVJournal> journal) { d->journal = std::move(journal); }

const std::shared_ptr<KOVJournal>& WqKOV::journal() const { return d->journal; }

std::optional<std::vector<KOVJournalEntry>> WqKOV::pendingTransactions(std::string* why) const {
  std::vector<KOVJournalEntry> entries;
  std::string reason;
  if (d->journal && !d->journal->unfinished(entries, &reason)) {
    if (why) {
      *why = std::string(kov::limits::kJournalUnreadableText) + reason;
    }
    return std::nullopt;
  }
  return entries;
}

void WqKOV::setRetrySpacing(double seconds) {
  constexpr double kMaxSeconds = 3600;
  const double bounded = seconds > 0 ? std::min(seconds, kMaxSeconds) : 0;  // NaN too gives 0
  d->retrySpacing = std::chrono::milliseconds(static_cast<int64_t>(std::ceil(bounded * 1000)));
}

double WqKOV::retrySpacing() const { return static_cast<double>(d->retrySpacing.count()) / 1000; }

bool WqKOV::hasSessionFactory() const { return static_cast<bool>(d->sessionFactory); }

void WqKOV::setMainQueue(std::shared_ptr<KOVMainQueue> mainQueue) { d->mainQueue = std::move(mainQueue); }

bool WqKOV::isAcceptableEndpointUrl(const std::string& url, std::string* why) {
  return KOVEndpointPolicy::isAcceptable(url, why);
}

bool WqKOV::setEndpointUrls(const std::string& uatUrl, const std::string& secUrl) {
  for (const std::string* url : {&uatUrl, &secUrl}) {
    std::string why;
    if (!KOVEndpointPolicy::isAcceptable(*url, &why)) {
      d->logOutsideTransaction("KOV endpoint refused: " + why + ".");
      return false;
    }
  }
  d->uatUrl = uatUrl;
  d->secUrl = secUrl;
  return true;
}

void WqKOV::setDebugLog(bool debugMode, KOVTransactionDebugLogHandler debugLogHandler) {
  d->settingsDebugMode = debugMode;
  d->settingsDebugLog = std::move(debugLogHandler);
}

void WqKOV::resetEndpointUrls() {
  d->uatUrl = kWqKOVUATUrl;
  d->secUrl = kWqKOVSecUrl;
}

const std::string& WqKOV::endpointUrl(bool useUAT) const { return useUAT ? d->uatUrl : d->secUrl; }

// ---- Transactions ----

void WqKOV::startTransaction(std::shared_ptr<KOVTransactionDetails> txnDetails, KOVTransactionType txnType,
                             bool useUAT, bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                             StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                             KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  if (d->running()) {
    d->refuseStart(std::move(resultHandler), KOVTransactionResultExistingRequestInProgress, std::nullopt);
    return;
  }
  if (!txnDetails) {
    d->refuseStart(std::move(resultHandler), KOVTransactionResultFailed, std::string(kov::limits::kNoDetailsText));
    return;
  }
  std::string typeName = KOVDocumentWriter::typeName(txnType);
  std::optional<std::optional<KOVJournalEntry>> admitted = d->admit(*txnDetails, typeName, false, resultHandler);
  if (!admitted) {
    return;
  }
  d->begin(std::move(txnDetails), txnType, std::move(typeName), useUAT,
           {debugMode, std::move(debugLogHandler), std::move(statusChangeHandler), std::move(resultHandler),
            std::move(signatureReceiptHandler)},
           true, std::move(*admitted));
}

void WqKOV::recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, bool useUAT,
                               bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                               StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                               KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  if (d->running()) {
    d->refuseStart(std::move(resultHandler), KOVTransactionResultExistingRequestInProgress, std::nullopt);
    return;
  }
  auto details = std::make_shared<KOVTransactionDetails>();
  details->stationId = txnRecoveryDetails.stationId;
  details->userName = txnRecoveryDetails.userName;
  details->key = txnRecoveryDetails.key;
  details->txnRef = txnRecoveryDetails.txnRef;
  details->skipSignatureVerification = txnRecoveryDetails.skipSignatureVerification;
  std::optional<std::optional<KOVJournalEntry>> admitted = d->admit(*details, std::nullopt, true, resultHandler);
  if (!admitted) {
    return;
  }
  if (*admitted && (*admitted)->result) {
    d->handOver(std::move(**admitted), std::move(resultHandler), debugMode, std::move(debugLogHandler));
    return;
  }
  // The type stays as it was: a recovery sends no transaction request.
  d->begin(std::move(details), currentTxnType(), currentTxnTypeStr(), useUAT,
           {debugMode, std::move(debugLogHandler), std::move(statusChangeHandler), std::move(resultHandler),
            std::move(signatureReceiptHandler)},
           false, std::move(*admitted));
}

bool WqKOV::isTransactionInProgress() const { return d->running(); }

void WqKOV::sendButtonRequest(const std::string& buttonId, const std::optional<std::string>& buttonValue) {
  const std::shared_ptr<KOVTransactionRun> run = d->run;
  if (!run) {
    return;
  }
  std::string why;
  if (!KOVXmlUtils::isXmlText(buttonId, &why) || (buttonValue && !KOVXmlUtils::isXmlText(*buttonValue, &why))) {
    if (run->debugMode()) {
      run->log(KOVTransactionLogEntryError, "KOV press refused: the button cannot be sent: " + why + ".");
    }
    return;
  }
  run->press(buttonId, buttonValue);
}

// ---- Transport ----

KOVRequestId WqKOV::sendRequest(const std::string& postDataStr, ResponseHandler responseHandler,
                                float timeoutInterval) {
  const std::shared_ptr<KOVTransactionRun> run = d->run;
  if (!run) {
    d->deliverLater([handler = std::move(responseHandler)] {
      handler(std::nullopt, std::nullopt,
              KOVError{NSURLErrorDomain, NSURLErrorUnsupportedURL, "No transaction has begun."});
    });
    return 0;
  }
  return run->post(postDataStr, sanitizeXml(postDataStr), std::move(responseHandler),
                   static_cast<double>(timeoutInterval));
}

void WqKOV::releaseSession() {
  if (d->run) {
    d->run->releaseSession();
  }
}

void WqKOV::doDebugLog(KOVTransactionLogEntryType entryType, const std::string& logEntry) {
  if (d->run) {
    d->run->log(entryType, logEntry);
  }
}

// ---- Answers ----

void WqKOV::processStatusResponse(const std::optional<std::string>& responseData,
                                  const std::optional<KOVError>& error) {
  if (const std::shared_ptr<KOVTransactionRun> run = d->run) {
    run->onAnswer(responseData, std::nullopt, error);
  }
}

void WqKOV::triggerStatusUpdate(const NSStringDictionary& response) {
  if (const std::shared_ptr<KOVTransactionRun> run = d->run) {
    run->report(KOVAnswerDecoder::screenOf(response));
  }
}

bool WqKOV::skipSignatureVerification(const NSStringDictionary& result) {
  const std::shared_ptr<KOVTransactionRun> run = d->run;
  const std::optional<KOVPressButton> press = KOVAnswerDecoder::signatureAnswer(result);
  if (!run || run->ended() || !press) {
    return false;
  }
  run->press(press->buttonId, press->label);
  return true;
}

void WqKOV::processTransactionEnd(std::shared_ptr<NSStringDictionary> response) {
  if (const std::shared_ptr<KOVTransactionRun> run = d->run) {
    run->complete(KOVAnswerDecoder::resultOf(std::move(response)));
  }
}

int32_t WqKOV::getIntValue(const NSStringDictionary& dictionary, const std::string& path, int32_t defaultValue) {
  return KOVAnswerDecoder::intValue(dictionary, path, defaultValue);
}

std::optional<std::string> WqKOV::getStrValue(const NSStringDictionary& dictionary, const std::string& path,
                                              const std::optional<std::string>& defaultValue) {
  return KOVAnswerDecoder::strValue(dictionary, path, defaultValue);
}

KOVState WqKOV::stateLineToState(const std::string& stateLine, bool isCompleted) {
  return KOVAnswerDecoder::stateOf(stateLine, isCompleted);
}

std::optional<std::string> WqKOV::segmentString(const std::optional<std::string>& string, int32_t segmentWidth) {
  return KOVAnswerDecoder::segment(string, segmentWidth);
}

KOVTransactionResult WqKOV::reCoToResultType(const std::string& reco) { return KOVAnswerDecoder::resultOfCode(reco); }

// ---- Request documents ----

namespace {

const KOVTransactionDetails& detailsOf(const std::shared_ptr<KOVTransactionDetails>& details) {
  static const KOVTransactionDetails kNoDetails;  // the builders read a missing record as an empty one
  return details ? *details : kNoDetails;
}

}  // namespace

std::string WqKOV::txnTypeToStr(KOVTransactionType txnType) { return KOVDocumentWriter::typeName(txnType); }

std::string WqKOV::transactionTypeToStr() const {
  const std::string name = KOVDocumentWriter::typeName(currentTxnType());
  return name.empty() ? "Error" : name;
}

std::shared_ptr<WqXMLDocument> WqKOV::createTxnDocument() const {
  return KOVDocumentWriter::skeleton(detailsOf(currentTxnDetails()), false);
}

std::optional<std::string> WqKOV::decimalToString(const std::optional<KOVDecimal>& decimalValue) {
  return KOVDocumentWriter::amountText(decimalValue);
}

std::optional<std::string> WqKOV::generateRequest() const {
  return KOVDocumentWriter::transactionRequest(detailsOf(currentTxnDetails()), currentTxnTypeStr(), false);
}

std::string WqKOV::generateStatusRequest() const {
  return KOVDocumentWriter::statusRequest(detailsOf(currentTxnDetails()), false);
}

std::string WqKOV::generateButtonRequest(const std::string& buttonName,
                                         const std::optional<std::string>& buttonValue) const {
  return KOVDocumentWriter::buttonRequest(detailsOf(currentTxnDetails()), buttonName, buttonValue, false);
}

// ---- Read-only view ----

namespace {

const std::shared_ptr<KOVTransactionDetails> kNoRecord;
const std::optional<std::string> kNoTypeName;

}  // namespace

const std::shared_ptr<KOVTransactionDetails>& WqKOV::currentTxnDetails() const {
  return d->run ? d->run->details() : kNoRecord;
}
KOVTransactionType WqKOV::currentTxnType() const { return d->run ? d->run->type() : KOVTransactionTypePurchase; }
const std::optional<std::string>& WqKOV::currentTxnTypeStr() const {
  return d->run ? d->run->typeName() : kNoTypeName;
}
bool WqKOV::isUAT() const { return d->run && d->run->isUAT(); }
KOVState WqKOV::currentState() const { return d->run ? d->run->state() : KOVStateInit; }
int32_t WqKOV::numberOfConsecutiveTimeouts() const { return d->run ? d->run->failures() : 0; }
int32_t WqKOV::maxNumberOfOfConsecutiveTimeouts() const { return d->run ? kov::limits::kMaxConsecutiveTimeouts : 0; }
int32_t WqKOV::currentTimeoutInSeconds() const { return d->run ? d->run->timeoutSeconds() : 0; }
bool WqKOV::debugMode() const { return d->run && d->run->debugMode(); }
bool WqKOV::hasSession() const { return d->run && d->run->hasSession(); }
bool WqKOV::hasResultHandler() const { return d->run && d->run->hasResultHandler(); }
