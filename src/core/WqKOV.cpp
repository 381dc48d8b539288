// The engine hosts call: process-wide wiring and settings, and the current transaction
// run, to which every transaction operation is handed.
#include <KOVModule/WqKOV.h>

#include <KOVModule/KOVEndpointPolicy.h>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/KOVAnswerDecoder.h"
#include "core/KOVDocumentWriter.h"
#include "core/KOVTransactionRun.h"
#include "core/WqKOVLimits.h"
#include "util/KOVText.h"

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

namespace {

// What a start or recovery that may go ahead does first.
enum class Plan {
  Send,      // posts its transaction request (a recovery: its first status poll)
  Follow,    // polls for an earlier transaction request of the same payment, sending none
  HandOver,  // hands over the result the journal holds, asking the service nothing
};

// The decision on a start or recovery, taken before anything is sent or saved.
struct Admission {
  std::optional<KOVRefusal> refusal;
  Plan plan = Plan::Send;
  std::optional<KOVJournalEntry> entry;  // its journal entry: found, or to be saved
  bool save = false;                     // the entry is saved before the first request leaves
};

Admission refused(KOVRefusalKind kind, KOVTransactionResult result, std::string reason) {
  Admission admission;
  admission.refusal = KOVRefusal{kind, result, std::move(reason)};
  return admission;
}

Admission planned(Plan plan, std::optional<KOVJournalEntry> entry, bool save) {
  Admission admission;
  admission.plan = plan;
  admission.entry = std::move(entry);
  admission.save = save;
  return admission;
}

bool aboutThePayment(const std::optional<KOVTransactionResultDetails>& result) {
  return result && (result->transactionResult == KOVTransactionResultSucceeded ||
                    result->transactionResult == KOVTransactionResultFailed);
}

// "result 0, APPROVED": how a payment in the journal ended.
std::string endingOf(const KOVJournalEntry& entry) {
  if (!entry.result) {
    return "an unknown outcome";
  }
  const std::string text = entry.result->responseText.value_or("");
  return "result " + std::to_string(entry.result->transactionResult) + (text.empty() ? "" : ", " + text);
}

// Whether a start asks for the payment the journal holds under its reference: the fields
// the service keys a payment by, the amount as it was sent.
bool samePayment(const KOVJournalEntry& entry, const KOVTransactionDetails& details, const std::string& typeName) {
  return entry.txnType == typeName && entry.amount == KOVDocumentWriter::amountText(details.amount) &&
         entry.currencyCode == details.currencyCode && entry.stationId == details.stationId &&
         entry.userName == details.userName;
}

KOVJournalEntry newEntry(const KOVTransactionDetails& details, const std::optional<std::string>& typeName) {
  KOVJournalEntry entry;
  entry.txnRef = details.txnRef.value_or("");
  entry.txnType = typeName;
  entry.stationId = details.stationId;
  entry.amount = typeName ? KOVDocumentWriter::amountText(details.amount) : std::nullopt;
  entry.currencyCode = details.currencyCode;
  entry.userName = details.userName;
  entry.merchantRef = details.merchantRef;
  entry.startedAt = std::chrono::system_clock::now();
  return entry;
}

// A recovery asks the station and user the payment was taken with: the journal's, when the
// host names none; another one would be answered "not found" (read as "not approved") or
// refused.
std::optional<KOVRefusal> recoveryMismatch(const KOVJournalEntry& entry, KOVTransactionDetails& details) {
  struct Named {
    std::optional<std::string> KOVTransactionDetails::*field;
    const std::optional<std::string>& kept;
    const char* name;
    KOVTransactionResult result;
  };
  for (const Named& n : {Named{&KOVTransactionDetails::stationId, entry.stationId, "stationId",
                               KOVTransactionResultStationPrefixError},
                         Named{&KOVTransactionDetails::userName, entry.userName, "userName",
                               KOVTransactionResultUserIDNotMatched}}) {
    std::optional<std::string>& given = details.*n.field;
    if (!given) {
      given = n.kept;
    } else if (n.kept && given != n.kept) {
      return KOVRefusal{KOVRefusalRecord, n.result,
                        "The " + std::string(n.name) + " " + *given + " is not the one " + entry.txnRef +
                            " was taken with (" + *n.kept + "): a recovery asks with the payment's own."};
    }
  }
  return std::nullopt;
}

}  // namespace

struct WqKOV::Private {
  KOVURLSessionFactory sessionFactory;
  uint64_t sessionFactoryGeneration = 0;  // tells a session of an earlier factory
  std::shared_ptr<KOVMainQueue> mainQueue;
  std::string uatUrl = kWqKOVUATUrl;
  std::string secUrl = kWqKOVSecUrl;
  std::optional<std::chrono::milliseconds> retrySpacing;  // none: the default growing delay
  std::chrono::milliseconds pollFloor = kov::limits::kDefaultPollFloor;
  std::chrono::milliseconds deadline = kov::limits::kDefaultDeadline;
  std::shared_ptr<KOVJournal> journal;
  bool acknowledgedDelivery = false;
  bool settingsDebugMode = false;
  KOVTransactionDebugLogHandler settingsDebugLog;
  // The running transaction, or the last one until the next begins.
  std::shared_ptr<KOVTransactionRun> run;
  uint64_t runSessionFactoryGeneration = 0;
  // How the last transaction handed to a result handler ended; shared with the closures that
  // hand results over, which may run after a newer transaction began.
  std::shared_ptr<KOVTransactionOutcome> lastOutcome = std::make_shared<KOVTransactionOutcome>();

  bool running() const { return run && !run->ended(); }

  void deliverLater(std::function<void()> work) const {
    if (mainQueue) {
      mainQueue->post(std::move(work));
    } else {
      work();
    }
  }

  // The host's handler, told first how the transaction ended.
  KOVRunResultHandler recording(KOVTransactionResultHandler host) const {
    return [last = lastOutcome, host = std::move(host)](KOVTransactionResultDetails record,
                                                        const KOVTransactionOutcome& outcome) {
      *last = outcome;
      if (host) {
        host(std::move(record));
      }
    };
  }

  void refuse(KOVRunResultHandler resultHandler, const KOVRefusal& refusal, std::string txnRef,
              bool requestSent) const {
    if (!resultHandler) {
      return;
    }
    KOVTransactionResultDetails record = KOVTransactionResultDetails::initWithResult(refusal.result);
    if (!refusal.reason.empty()) {
      record.responseText = refusal.reason;
    }
    KOVTransactionOutcome outcome{std::move(txnRef), record.responseText, requestSent};
    // Delivered later, like every other result: the caller's start returns first.
    deliverLater([handler = std::move(resultHandler), record = std::move(record),
                  outcome = std::move(outcome)]() mutable { handler(std::move(record), outcome); });
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
    KOVTransactionRun::Wiring wiring{sessionFactory,
                                     mainQueue,
                                     useUAT ? uatUrl : secUrl,
                                     keptSession(),
                                     KOVPacingSettings{retrySpacing, pollFloor},
                                     deadline,
                                     journalEntry ? journal : nullptr,
                                     journalEntry.value_or(KOVJournalEntry{}),
                                     transactionRequest,
                                     acknowledgedDelivery};
    run = std::make_shared<KOVTransactionRun>(std::move(details), type, std::move(typeName), useUAT,
                                              std::move(handlers), std::move(wiring));
    runSessionFactoryGeneration = sessionFactoryGeneration;
    const std::shared_ptr<KOVTransactionRun> current = run;
    current->begin(transactionRequest);
  }

  // Whether a start may go ahead, and how: nothing that cannot be sent as meant goes on the
  // wire, and a reference the journal holds is never sent as a second payment. A start of
  // the same payment follows the first to its outcome, or sends it again when it provably
  // never left.
  Admission admitStart(const KOVTransactionDetails& details, KOVTransactionType type,
                       KOVRecordCheckLevel level) const {
    if (running()) {
      return refused(KOVRefusalBusy, KOVTransactionResultExistingRequestInProgress, "");
    }
    if (std::optional<std::string> refusal = KOVRecordCheck::refusalOf(details, type, level)) {
      return refused(KOVRefusalRecord, KOVTransactionResultFailed, std::move(*refusal));
    }
    if (!journal) {
      return {};
    }
    if (!details.txnRef || details.txnRef->empty()) {
      return refused(KOVRefusalRecord, KOVTransactionResultFailed, std::string(kov::limits::kJournalNeedsReferenceText));
    }
    const std::string typeName = KOVDocumentWriter::typeName(type);
    std::optional<KOVJournalEntry> found;
    std::string why;
    if (!journal->find(*details.txnRef, found, &why)) {
      return refused(KOVRefusalJournal, KOVTransactionResultFailed, std::string(kov::limits::kJournalUnreadableText) + why);
    }
    if (!found) {
      return planned(Plan::Send, newEntry(details, typeName), true);
    }
    // A reused reference never picks up an old approval for a new sale, nor gets "declined":
    // the service keys transactions by it.
    const std::string reused = "The txnRef " + *details.txnRef + " is in the journal already";
    const std::string never = ": a reference is never used for a second payment.";
    if (found->stage == KOVJournalStageDelivered) {
      return refused(KOVRefusalDuplicateReference, KOVTransactionResultExistingRequestInProgress,
                     reused + ", for a payment that ended with " + endingOf(*found) + never);
    }
    if (!samePayment(*found, details, typeName)) {
      return refused(KOVRefusalDuplicateReference, KOVTransactionResultExistingRequestInProgress,
                     reused + ", for another payment" + never);
    }
    if (found->result) {
      return planned(Plan::HandOver, std::move(found), false);
    }
    if (!found->requestSent) {
      found->requestSent = true;
      return planned(Plan::Send, std::move(found), true);
    }
    return planned(Plan::Follow, std::move(found), false);
  }

  // Whether a recovery may go ahead, and how; the record takes the journal's station and
  // user where the host gave none.
  Admission admitRecovery(KOVTransactionDetails& details, KOVRecordCheckLevel level) const {
    if (running()) {
      return refused(KOVRefusalBusy, KOVTransactionResultExistingRequestInProgress, "");
    }
    std::optional<KOVJournalEntry> found;
    if (journal && details.txnRef && !details.txnRef->empty()) {
      std::string why;
      if (!journal->find(*details.txnRef, found, &why)) {
        // The outcome stays unknown: not "not approved".
        return refused(KOVRefusalJournal, KOVTransactionResultTimeout,
                       std::string(kov::limits::kJournalUnreadableText) + why);
      }
      if (found) {
        if (std::optional<KOVRefusal> mismatch = recoveryMismatch(*found, details)) {
          Admission admission;
          admission.refusal = std::move(mismatch);
          return admission;
        }
      }
    }
    KOVTransactionRecoveryDetails asked;
    asked.userName = details.userName;
    asked.key = details.key;
    asked.stationId = details.stationId;
    asked.txnRef = details.txnRef;
    if (std::optional<std::string> refusal = KOVRecordCheck::refusalOf(asked, level)) {
      return refused(KOVRefusalRecord, KOVTransactionResultFailed, std::move(*refusal));
    }
    if (!journal) {
      return {};
    }
    if (!details.txnRef || details.txnRef->empty()) {
      return refused(KOVRefusalRecord, KOVTransactionResultFailed, std::string(kov::limits::kJournalNeedsReferenceText));
    }
    if (!found) {
      return planned(Plan::Send, newEntry(details, std::nullopt), true);
    }
    // Only an answer about the payment is handed over again; a refusal the journal holds
    // (from a start's own answer) is asked anew.
    return planned(aboutThePayment(found->result) ? Plan::HandOver : Plan::Follow, std::move(found), false);
  }

  // Carries an admission out: the refusal, the result kept, or the run (a start's Send posts
  // its transaction request, a recovery's its first status poll).
  void act(Admission admission, std::shared_ptr<KOVTransactionDetails> details, KOVTransactionType type,
           std::optional<std::string> typeName, bool useUAT, KOVTransactionRun::Handlers handlers, bool recovery) {
    const std::string txnRef = details ? details->txnRef.value_or("") : std::string();
    if (admission.refusal) {
      // A refused start sent nothing; a refused recovery leaves what it follows as it was.
      const bool requestSent = recovery;
      refuse(std::move(handlers.result), *admission.refusal, txnRef, requestSent);
      return;
    }
    if (admission.save) {
      std::string why;
      if (!journal->save(*admission.entry, &why)) {
        refuse(std::move(handlers.result),
               KOVRefusal{KOVRefusalJournal, KOVTransactionResultFailed,
                          std::string(kov::limits::kJournalUnwritableText) + why},
               txnRef, false);
        return;
      }
      logNotices(handlers);
    }
    if (admission.plan == Plan::HandOver) {
      handOver(std::move(*admission.entry), std::move(handlers));
      return;
    }
    begin(std::move(details), type, std::move(typeName), useUAT, std::move(handlers),
          !recovery && admission.plan == Plan::Send, std::move(admission.entry));
  }

  void logNotices(const KOVTransactionRun::Handlers& handlers) const {
    for (const std::string& notice : journal->takeNotices()) {
      if (handlers.debugMode && handlers.debugLog) {
        handlers.debugLog(KOVTransactionLogEntryError, "KOV journal: " + notice);
      }
    }
  }

  // A result the journal kept is handed over again, later like every result, without asking
  // the service; it counts as delivered once the handler has returned (or, with acknowledged
  // delivery, once the host acknowledges it).
  void handOver(KOVJournalEntry entry, KOVTransactionRun::Handlers handlers) const {
    if (handlers.debugMode && handlers.debugLog) {
      handlers.debugLog(KOVTransactionLogEntryInfo, "KOV result of " + entry.txnRef + " taken from the journal.");
    }
    deliverLater([journal = journal, entry = std::move(entry), handlers = std::move(handlers),
                  acknowledged = acknowledgedDelivery]() mutable {
      if (!handlers.result) {
        return;
      }
      handlers.result(*entry.result, KOVTransactionOutcome{entry.txnRef, std::nullopt, entry.requestSent});
      if (acknowledged || entry.stage == KOVJournalStageDelivered) {
        return;
      }
      std::vector<std::string> log;
      KOVTransactionRun::markStage(*journal, entry, KOVJournalStageDelivered, log);
      for (const std::string& failure : log) {
        if (handlers.debugMode && handlers.debugLog) {
          handlers.debugLog(KOVTransactionLogEntryError, failure);
        }
      }
    });
  }

  void logOutsideTransaction(KOVTransactionLogEntryType type, const std::string& entry) const {
    // Endpoints are usually set before the first transaction, when only the host's own
    // debug settings exist; the last transaction's are the fallback.
    if (settingsDebugMode && settingsDebugLog) {
      settingsDebugLog(type, entry);
    } else if (run && run->debugMode()) {
      run->log(type, entry);
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

namespace {

std::chrono::milliseconds millisOf(double seconds) {
  return std::chrono::milliseconds(static_cast<int64_t>(std::ceil(seconds * 1000)));
}

}  // namespace

void WqKOV::setRetrySpacing(double seconds) {
  constexpr double kMaxSeconds = 3600;
  // NaN and negative values give the default.
  d->retrySpacing = seconds >= 0 ? std::optional(millisOf(std::min(seconds, kMaxSeconds))) : std::nullopt;
}

double WqKOV::retrySpacing() const {
  return d->retrySpacing ? static_cast<double>(d->retrySpacing->count()) / 1000 : -1;
}

void WqKOV::setPollFloor(double seconds) {
  constexpr double kMaxSeconds = 60;
  d->pollFloor = seconds >= 0 ? millisOf(std::min(seconds, kMaxSeconds)) : kov::limits::kDefaultPollFloor;
}

double WqKOV::pollFloor() const { return static_cast<double>(d->pollFloor.count()) / 1000; }

void WqKOV::setTransactionDeadline(double seconds) {
  constexpr double kMaxSeconds = 86400;
  d->deadline = seconds > 0 ? millisOf(std::min(seconds, kMaxSeconds)) : kov::limits::kDefaultDeadline;
}

double WqKOV::transactionDeadline() const { return static_cast<double>(d->deadline.count()) / 1000; }

bool WqKOV::hasSessionFactory() const { return static_cast<bool>(d->sessionFactory); }

void WqKOV::setMainQueue(std::shared_ptr<KOVMainQueue> mainQueue) { d->mainQueue = std::move(mainQueue); }

bool WqKOV::isAcceptableEndpointUrl(const std::string& url, std::string* why) {
  return kov::EndpointPolicy::isAcceptable(url, why);
}

bool WqKOV::setEndpointUrls(const std::string& uatUrl, const std::string& secUrl) {
  for (const std::string* url : {&uatUrl, &secUrl}) {
    std::string why;
    if (!kov::EndpointPolicy::isAcceptable(*url, &why)) {
      d->logOutsideTransaction(KOVTransactionLogEntryInfo, "KOV endpoint refused: " + why + ".");
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
  KOVTransactionRun::Handlers handlers{debugMode, std::move(debugLogHandler), std::move(statusChangeHandler),
                                       d->recording(std::move(resultHandler)), std::move(signatureReceiptHandler)};
  Admission admission =
      txnDetails    ? d->admitStart(*txnDetails, txnType, KOVRecordCheckFacade)
      : d->running() ? refused(KOVRefusalBusy, KOVTransactionResultExistingRequestInProgress, "")
                     : refused(KOVRefusalRecord, KOVTransactionResultFailed, std::string(kov::limits::kNoDetailsText));
  d->act(std::move(admission), std::move(txnDetails), txnType, KOVDocumentWriter::typeName(txnType), useUAT,
         std::move(handlers), false);
}

void WqKOV::recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, bool useUAT,
                               bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                               StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                               KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  auto details = std::make_shared<KOVTransactionDetails>();
  details->stationId = txnRecoveryDetails.stationId;
  details->userName = txnRecoveryDetails.userName;
  details->key = txnRecoveryDetails.key;
  details->txnRef = txnRecoveryDetails.txnRef;
  details->skipSignatureVerification = txnRecoveryDetails.skipSignatureVerification;
  Admission admission = d->admitRecovery(*details, KOVRecordCheckFacade);
  // The type stays as it was: a recovery sends no transaction request.
  d->act(std::move(admission), std::move(details), currentTxnType(), currentTxnTypeStr(), useUAT,
         {debugMode, std::move(debugLogHandler), std::move(statusChangeHandler),
          d->recording(std::move(resultHandler)), std::move(signatureReceiptHandler)},
         true);
}

std::optional<KOVRefusal> WqKOV::refusalOfStart(const KOVTransactionDetails& txnDetails, KOVTransactionType txnType,
                                                KOVRecordCheckLevel level) const {
  return d->admitStart(txnDetails, txnType, level).refusal;
}

std::optional<KOVRefusal> WqKOV::refusalOfRecovery(const KOVTransactionRecoveryDetails& txnRecoveryDetails,
                                                   KOVRecordCheckLevel level) const {
  KOVTransactionDetails details;
  details.stationId = txnRecoveryDetails.stationId;
  details.userName = txnRecoveryDetails.userName;
  details.key = txnRecoveryDetails.key;
  details.txnRef = txnRecoveryDetails.txnRef;
  return d->admitRecovery(details, level).refusal;
}

KOVTransactionOutcome WqKOV::lastOutcome() const { return *d->lastOutcome; }

bool WqKOV::cancelTransaction() {
  const std::shared_ptr<KOVTransactionRun> run = d->run;
  if (!run || run->ended()) {
    return false;
  }
  run->cancel();
  return true;
}

void WqKOV::setAcknowledgedDelivery(bool acknowledgedDelivery) { d->acknowledgedDelivery = acknowledgedDelivery; }

bool WqKOV::acknowledgedDelivery() const { return d->acknowledgedDelivery; }

bool WqKOV::acknowledge(const std::string& txnRef, std::string* why) {
  std::optional<KOVJournalEntry> found;
  std::string reason;
  if (!d->journal) {
    return true;  // nothing is kept, so nothing waits for it
  }
  if (!d->journal->find(txnRef, found, &reason)) {
    if (why) *why = std::string(kov::limits::kJournalUnreadableText) + reason;
    return false;
  }
  // Only a result that arrived waits for its acknowledgement; a reference still to be
  // recovered stays so, and one delivered already stays delivered.
  if (!found || found->stage != KOVJournalStageAnswered) {
    return true;
  }
  found->acknowledgedAt = std::chrono::system_clock::now();
  std::vector<std::string> log;
  const bool saved = KOVTransactionRun::markStage(*d->journal, *found, KOVJournalStageDelivered, log);
  for (const std::string& entry : log) {
    d->logOutsideTransaction(KOVTransactionLogEntryError, entry);
  }
  if (!saved && why) {
    *why = log.front();
  }
  return saved;
}

bool WqKOV::forget(const std::string& txnRef, std::string* why) {
  const auto fail = [why](std::string text) {
    if (why) *why = std::move(text);
    return false;
  };
  if (!d->journal) {
    return fail("No journal is set.");
  }
  if (d->running() && d->run->details()->txnRef == txnRef) {
    return fail("The transaction " + txnRef + " is running: it cannot be forgotten now.");
  }
  std::optional<KOVJournalEntry> found;
  std::string reason;
  if (!d->journal->find(txnRef, found, &reason)) {
    return fail(std::string(kov::limits::kJournalUnreadableText) + reason);
  }
  if (!found) {
    return fail("The txnRef " + txnRef + " is not in the journal.");
  }
  if (!d->journal->forget(txnRef, &reason)) {
    return fail(std::string(kov::limits::kJournalUnwritableText) + reason);
  }
  // Settled by other means, the operator says: the entry goes, and the log keeps what it was.
  d->logOutsideTransaction(KOVTransactionLogEntryInfo,
                           "KOV journal: " + txnRef + " forgotten at the operator's request; it was " +
                               kov::journalStageName(found->stage) + " with " + endingOf(*found) + ".");
  return true;
}

bool WqKOV::isTransactionInProgress() const { return d->running(); }

void WqKOV::sendButtonRequest(const std::string& buttonId, const std::optional<std::string>& buttonValue) {
  const std::shared_ptr<KOVTransactionRun> run = d->run;
  if (!run) {
    return;
  }
  std::string why;
  if (!kov::text::isXmlText(buttonId, &why) || (buttonValue && !kov::text::isXmlText(*buttonValue, &why))) {
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
