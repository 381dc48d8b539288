// One transaction's loop: each answer is decided by the decoder and carried out here.
#include "core/KOVTransactionRun.h"

#include <KOVModule/KOVXmlUtils.h>

#include <utility>

#include "core/KOVDocumentWriter.h"
#include "core/WqKOVLimits.h"
#include "util/KOVText.h"

namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

}  // namespace

KOVTransactionRun::KOVTransactionRun(std::shared_ptr<KOVTransactionDetails> details, KOVTransactionType type,
                                     std::optional<std::string> typeName, bool isUAT, Handlers handlers,
                                     Wiring wiring)
    : _details(std::move(details)),
      _type(type),
      _typeName(std::move(typeName)),
      _isUAT(isUAT),
      _handlers(std::move(handlers)),
      _wiring(std::move(wiring)),
      _timeoutSeconds(kov::limits::kDefaultTimeoutSeconds),
      _requestSent(!_wiring.journal || _wiring.journalEntry.requestSent),
      _jitterSeed(KOVPacing::jitterSeed(_details->txnRef.value_or(""), _details->stationId.value_or(""))) {}

KOVTransactionRun::~KOVTransactionRun() {
  // Abandoned, not cancelled: the terminal may still approve; the host recovers the
  // transaction by its reference. Cancelled requests still complete once, later; they find
  // this run gone.
  releaseSession();
}

void KOVTransactionRun::begin(bool transactionRequest) {
  if (_wiring.deadline.count() > 0 && _wiring.mainQueue) {
    _wiring.mainQueue->postAfter(_wiring.deadline, [weak = weak_from_this()] {
      if (const std::shared_ptr<KOVTransactionRun> run = weak.lock()) {
        run->onDeadline();
      }
    });
  }
  // The first request carries the loop like a poll: its answer is dispatched the same way.
  const KOVTransactionDetails& details = *_details;
  if (!transactionRequest) {
    sendStatusRequest();
    return;
  }
  _requestSent = true;
  sendLoopRequest(KOVDocumentWriter::transactionRequest(details, _typeName, false).value_or(""),
                  _handlers.debugMode ? KOVDocumentWriter::transactionRequest(details, _typeName, true).value_or("")
                                      : std::string());
  _transactionRequestSeq = _pollSeq;
}

void KOVTransactionRun::poll(bool afterPress) {
  // One loop per transaction: the request in flight, if any, is superseded. Its answer is
  // dropped by the sequence check, and the request is cancelled to free the line.
  if (_pollInFlight && _wiring.session) {
    _wiring.session->cancel(*_pollInFlight);
  }
  _pollInFlight.reset();
  const std::shared_ptr<KOVMainQueue>& queue = _wiring.mainQueue;
  if (afterPress || !queue) {
    sendStatusRequest();
    return;
  }
  pollAt(KOVPacing::pollAt(_wiring.pacing, _lastSentAt, queue->now()));
}

void KOVTransactionRun::pollAt(KOVPacing::TimePoint at) {
  const std::shared_ptr<KOVMainQueue>& queue = _wiring.mainQueue;
  const auto wait = queue ? std::chrono::ceil<std::chrono::milliseconds>(at - queue->now())
                          : std::chrono::milliseconds(0);
  if (wait.count() <= 0) {
    sendStatusRequest();
    return;
  }
  // A loop request sent meanwhile (after a press) or the end makes this one unwanted.
  queue->postAfter(wait, [weak = weak_from_this(), sequence = _pollSeq] {
    const std::shared_ptr<KOVTransactionRun> run = weak.lock();
    if (run && !run->_ended && sequence == run->_pollSeq) {
      run->sendStatusRequest();
    }
  });
}

void KOVTransactionRun::sendStatusRequest() {
  // The masked copy is written only when the debug log will show it.
  const KOVTransactionDetails& details = *_details;
  sendLoopRequest(KOVDocumentWriter::statusRequest(details, false),
                  _handlers.debugMode ? KOVDocumentWriter::statusRequest(details, true) : std::string());
}

void KOVTransactionRun::sendLoopRequest(const std::string& document, const std::string& logText) {
  const uint64_t sequence = ++_pollSeq;
  if (_wiring.mainQueue) {
    _lastSentAt = _wiring.mainQueue->now();
  }
  const KOVRequestId id = post(
      document, logText,
      [weak = weak_from_this(), sequence](const std::optional<std::string>& data,
                                          const std::optional<KOVURLResponse>& response,
                                          const std::optional<KOVError>& error) {
        const std::shared_ptr<KOVTransactionRun> run = weak.lock();
        if (run && sequence == run->_pollSeq) {
          run->_pollInFlight.reset();
          if (sequence == run->_transactionRequestSeq) {
            run->onTransactionRequestEnded(error);
          }
          run->_answerSeq = sequence;
          run->onAnswer(data, response, error);
        }
      },
      static_cast<double>(_timeoutSeconds));
  if (id != 0 && sequence == _pollSeq) {
    _pollInFlight = id;
  }
}

void KOVTransactionRun::onAnswer(const std::optional<std::string>& data,
                                 const std::optional<KOVURLResponse>& response,
                                 const std::optional<KOVError>& error) {
  if (_ended) {
    return;  // nothing is sent for a transaction that has ended
  }
  if (std::optional<KOVPollFailure> failure = KOVAnswerDecoder::transportFailure(data, error)) {
    onFailure(*failure);
    return;
  }
  const std::string& body = data ? *data : std::string();
  auto answer = std::make_shared<NSStringDictionary>();
  // The flag is not looked at: a broken answer still gives the keys read before the fault.
  KOVXmlUtils::ParseXML(body, *answer);
  if (std::optional<KOVPollFailure> failure = KOVAnswerDecoder::screenlessFailure(response, error, *answer)) {
    onFailure(*failure);
    return;
  }
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryResponseContent, kov::text::validUtf8(body));
  }
  _failures = 0;

  KOVAnswerDecision decision =
      KOVAnswerDecoder::decide(std::move(answer), _details->skipSignatureVerification, _cancel, _timeoutSeconds);
  if (pastDeadline() && std::holds_alternative<KOVShowScreen>(decision)) {
    endAtDeadline();  // the poll after the deadline brought no final answer
    return;
  }
  std::visit(Overloaded{[this](const KOVPressButton& p) { p.forCancel ? pressCancel(p) : press(p.buttonId, p.label); },
                        [this](KOVFinish& f) { complete(std::move(f.result)); },
                        [this](KOVShowScreen& s) {
                          _shownCancel = std::move(s.cancelButton);
                          report(s.screen);
                          if (_ended) {
                            return;  // a callback ended the transaction
                          }
                          _timeoutSeconds = s.nextTimeoutSeconds;
                          poll();
                        }},
             decision);
}

void KOVTransactionRun::onDeadline() {
  if (_ended) {
    return;
  }
  _deadlinePassed = true;
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryInfo, "KOV no final answer within " + std::to_string(_wiring.deadline.count() / 1000) +
                                        " s: asking the terminal to cancel.");
  }
  cancel();
  _deadlineSeq = _pollSeq;
}

void KOVTransactionRun::endAtDeadline() {
  _lastFailure = "no final answer within " + std::to_string(_wiring.deadline.count() / 1000) +
                 " s (the terminal was asked to cancel)";
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryInfo, "KOV Deadline. No final answer. Triggering result.");
  }
  finish(KOVTransactionResultDetails::initWithResult(KOVTransactionResultTimeout), false);
}

void KOVTransactionRun::onTransactionRequestEnded(const std::optional<KOVError>& error) {
  _transactionRequestSeq = 0;
  if (!error || error->requestSent) {
    return;
  }
  // Not a byte of it left: the service cannot have it, and a start with the same fields may
  // send it again instead of following it.
  _requestSent = false;
  if (_wiring.journal) {
    _wiring.journalEntry.requestSent = false;
    journal(KOVJournalStageSent, nullptr);
  }
}

void KOVTransactionRun::cancel() {
  if (_ended || _cancel != KOVCancelState::None) {
    return;
  }
  _cancel = KOVCancelState::Pending;
  if (_shownCancel) {
    pressCancel(*_shownCancel);
  } else if (_handlers.debugMode) {
    log(KOVTransactionLogEntryInfo, "KOV cancel asked: CANCEL is pressed when the terminal shows it.");
  }
}

void KOVTransactionRun::pressCancel(const KOVPressButton& button) {
  _cancel = KOVCancelState::Pressed;
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryInfo, "KOV cancel asked: pressing " + button.buttonId + ".");
  }
  press(button.buttonId, button.label);
}

void KOVTransactionRun::onFailure(const KOVPollFailure& failure) {
  _lastFailure = failure.reason;
  ++_failures;
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryError, failure.logText);
    log(KOVTransactionLogEntryInfo, "KOV Timeout. Starting attempt " + std::to_string(_failures));
  }
  if (pastDeadline()) {
    endAtDeadline();
    return;
  }
  if (_failures <= kov::limits::kMaxConsecutiveTimeouts) {
    retry(failure.retryAfter);
    return;
  }
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryInfo, "KOV Timeout. Out of attempts. Triggering result.");
  }
  // The session stays open for the next transaction to reuse. The outcome is unknown, so a
  // journalled transaction stays unfinished: it is to be recovered.
  finish(KOVTransactionResultDetails::initWithResult(KOVTransactionResultTimeout), false);
}

void KOVTransactionRun::retry(std::optional<std::chrono::milliseconds> retryAfter) {
  // A refused connection fails nine times within milliseconds: by default the poll after a
  // failure waits a growing delay from the failed request's sending, so that a blip or a
  // gateway's restart does not become "outcome unknown". A failure that took that long
  // already is retried at once.
  const std::shared_ptr<KOVMainQueue>& queue = _wiring.mainQueue;
  if (!queue) {
    poll(true);
    return;
  }
  pollAt(KOVPacing::retryAt(_wiring.pacing, _failures, _jitterSeed, _lastSentAt, retryAfter, queue->now()));
}

void KOVTransactionRun::press(const std::string& buttonId, const std::optional<std::string>& label) {
  if (_ended) {
    return;  // a press after the end sends nothing
  }
  const KOVTransactionDetails& details = *_details;
  post(
      KOVDocumentWriter::buttonRequest(details, buttonId, label, false),
      _handlers.debugMode ? KOVDocumentWriter::buttonRequest(details, buttonId, label, true) : std::string(),
      [weak = weak_from_this()](const std::optional<std::string>&, const std::optional<KOVURLResponse>&,
                                const std::optional<KOVError>&) {
        // Whatever the outcome, one status poll follows at once; it supersedes the poll in flight.
        const std::shared_ptr<KOVTransactionRun> run = weak.lock();
        if (run && !run->_ended) {
          run->poll(true);
        }
      },
      static_cast<double>(kov::limits::kButtonTimeoutSeconds));
}

void KOVTransactionRun::report(const KOVScreen& screen) {
  if (!_handlers.statusChange) {
    return;
  }
  _handlers.statusChange(screen.state, screen.receipt, screen.firstLine, screen.secondLine, screen.button1,
                         screen.button2);
  if (screen.state != _state) {
    _state = screen.state;
    if (screen.state == KOVStateSignatureRequired && _handlers.signatureReceipt) {
      _handlers.signatureReceipt(screen.receipt);
    }
  }
}

void KOVTransactionRun::complete(KOVTransactionResultDetails record) {
  if (_ended) {
    return;
  }
  releaseSession();
  _state = KOVStateInit;
  finish(std::move(record), true);
}

void KOVTransactionRun::finish(KOVTransactionResultDetails record, bool answered) {
  // The transaction is over before its handler runs, so the host may start the next one
  // from inside the handler.
  _ended = true;
  _pollInFlight.reset();
  const std::shared_ptr<KOVTransactionRun> keepAlive = shared_from_this();
  KOVTransactionOutcome outcome{_details->txnRef.value_or(""), std::nullopt, _requestSent};
  // Only an answer about the payment settles what a recovery follows: a refusal of the status
  // request itself (a wrong key, user or station) says nothing of the payment.
  const bool aboutThePayment = record.transactionResult == KOVTransactionResultSucceeded ||
                               record.transactionResult == KOVTransactionResultFailed;
  const bool settles = answered && (_wiring.settlesWithAnyResult || aboutThePayment);
  if (!answered) {
    outcome.reason = _lastFailure;
  } else if (!settles) {
    outcome.reason = "The service refused to say how " + outcome.txnRef + " ended (result " +
                     std::to_string(record.transactionResult) +
                     (record.responseText.value_or("").empty() ? "" : ", " + *record.responseText) +
                     "): it stays to be recovered.";
    if (_handlers.debugMode) {
      log(KOVTransactionLogEntryError, "KOV " + *outcome.reason);
    }
  }
  if (settles) {
    journal(KOVJournalStageAnswered, &record);  // kept before the host hears of it
  }
  if (KOVRunResultHandler handler = std::exchange(_handlers.result, nullptr)) {
    handler(std::move(record), outcome);
    if (settles && !_wiring.acknowledgedDelivery) {
      journal(KOVJournalStageDelivered, nullptr);
    }
  }
}

void KOVTransactionRun::journal(KOVJournalStage stage, const KOVTransactionResultDetails* result) {
  if (!_wiring.journal) {
    return;
  }
  if (result) {
    _wiring.journalEntry.result = *result;
  }
  std::vector<std::string> entries;
  markStage(*_wiring.journal, _wiring.journalEntry, stage, entries);
  if (_handlers.debugMode) {
    for (const std::string& entry : entries) {
      log(KOVTransactionLogEntryError, entry);
    }
  }
}

bool KOVTransactionRun::markStage(KOVJournal& journal, KOVJournalEntry& entry, KOVJournalStage stage,
                                  std::vector<std::string>& logEntries) {
  entry.stage = stage;
  std::string why;
  const bool saved = journal.save(entry, &why);
  if (!saved) {
    logEntries.push_back("KOV journal: the transaction " + entry.txnRef + " could not be marked " +
                         kov::journalStageName(stage) + ": " + why);
  }
  for (std::string& notice : journal.takeNotices()) {
    logEntries.push_back("KOV journal: " + std::move(notice));
  }
  return saved;
}

KOVRequestId KOVTransactionRun::post(const std::string& document, const std::string& logText,
                                     ResponseHandler completion, double timeoutSeconds) {
  if (_handlers.debugMode) {
    log(KOVTransactionLogEntryRequestContent, logText);
  }
  if (!_wiring.session && _wiring.sessionFactory) {
    _wiring.session = _wiring.sessionFactory();
  }
  if (!_wiring.session) {
    // Nothing to post through: the answer is a URL-layer failure like any other, so the
    // loop counts it and ends with the time-out result instead of hanging.
    KOVError error{NSURLErrorDomain, NSURLErrorUnsupportedURL, "No URL session is configured."};
    auto deliver = [completion = std::move(completion), error = std::move(error)] {
      completion(std::nullopt, std::nullopt, error);
    };
    if (_wiring.mainQueue) {
      _wiring.mainQueue->post(std::move(deliver));
    } else {
      deliver();
    }
    return 0;
  }
  return _wiring.session->post(_wiring.url, document, timeoutSeconds, std::move(completion));
}

void KOVTransactionRun::releaseSession() {
  if (_wiring.session) {
    // Taken out of the field first: a completion run from inside the cancel sees no session.
    std::unique_ptr<KOVURLSession> session = std::move(_wiring.session);
    session->invalidateAndCancel();
  }
  _pollInFlight.reset();
}

std::unique_ptr<KOVURLSession> KOVTransactionRun::takeSession() { return std::move(_wiring.session); }

void KOVTransactionRun::log(KOVTransactionLogEntryType type, const std::string& entry) const {
  if (_handlers.debugLog) {
    _handlers.debugLog(type, entry);
  }
}
