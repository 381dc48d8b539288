#include "BridgeTill.h"

#include <KOVModule/KOVCurlTransport.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <utility>

#include "BridgeLog.h"
#include "BridgeTimedSession.h"
#include "ToolJson.h"

namespace kovbridge {
namespace {

BridgeAnswer refused(const KOVRefusal& refusal) {
  switch (refusal.kind) {
    case KOVRefusalRecord: return BridgeAnswer::error(400, refusal.reason);
    case KOVRefusalDuplicateReference: return BridgeAnswer::error(409, refusal.reason);
    case KOVRefusalBusy: return BridgeAnswer::error(409, "a transaction is running: one at a time");
    case KOVRefusalJournal: return BridgeAnswer::error(503, refusal.reason);
  }
  return BridgeAnswer::error(409, refusal.reason);
}

std::string receiptJson(const std::optional<std::string>& receipt) {
  nlohmann::ordered_json j;
  j["receipt"] = receipt ? nlohmann::ordered_json(*receipt) : nlohmann::ordered_json(nullptr);
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

BridgeTill::BridgeTill(std::shared_ptr<KOVPollLoop> loop, std::shared_ptr<KOVJournal> journal, BridgeIdentity identity,
                       BridgeMetrics& metrics)
    : _loop(std::move(loop)), _identity(std::move(identity)), _metrics(metrics) {
  KOVCurlTransport::install(_engine, _loop);
  _engine.setSessionFactory(BridgeTimedSession::wrap(KOVCurlTransport::sessionFactory(_loop), _metrics));
  _engine.setJournal(std::move(journal));
  // A result is the page's once it says so: a page that reloads or crashes gets it again.
  _engine.setAcknowledgedDelivery(true);
}

BridgeTill::~BridgeTill() { shutdown(); }

BridgeTill::Fields BridgeTill::fieldsOf(const BridgeStart& start) {
  return {WqKOV::txnTypeToStr(start.type),
          start.details.amount ? WqKOV::decimalToString(start.details.amount) : std::nullopt,
          start.details.currencyCode};
}

BridgeTill::Fields BridgeTill::fieldsOf(const KOVJournalEntry& entry) {
  return {entry.txnType, entry.amount, entry.currencyCode};
}

bool BridgeTill::journalHolds(const std::string& txnRef) const {
  const auto pending = _engine.pendingTransactions();
  return pending && std::any_of(pending->begin(), pending->end(),
                                [&txnRef](const KOVJournalEntry& entry) { return entry.txnRef == txnRef; });
}

bool BridgeTill::recoverJournal(std::string* why) {
  auto pending = _engine.pendingTransactions(why);
  if (!pending) return false;
  _toRecover.assign(pending->begin(), pending->end());
  if (!_toRecover.empty()) {
    logLine("recovering " + std::to_string(_toRecover.size()) + " unfinished transaction(s) of the journal first");
  }
  recoverNext();
  return true;
}

void BridgeTill::recoverNext() {
  if (_running || _toRecover.empty()) return;
  const KOVJournalEntry entry = std::move(_toRecover.front());
  _toRecover.pop_front();
  KOVTransactionRecoveryDetails details;
  details.userName = entry.userName.value_or(_identity.user);
  details.stationId = entry.stationId.value_or(_identity.station);
  details.key = _identity.key;
  details.txnRef = entry.txnRef;
  if (const auto refusal = _engine.refusalOfRecovery(details, KOVRecordCheckStrict)) {
    logLine("cannot recover " + entry.txnRef + ": " + refusal->reason);
    _loop->post([this] { recoverNext(); });
    return;
  }
  logLine("recovering " + entry.txnRef);
  run(entry.txnRef, fieldsOf(entry), std::nullopt, true,
      [&](auto status, auto result, auto signature) {
        _engine.recoverTransaction(details, false, false, nullptr, status, result, signature);
      });
}

std::optional<BridgeAnswer> BridgeTill::attachOrRefuse(const std::string& txnRef, const Fields& fields) const {
  if (_running) {
    if (_running->txnRef == txnRef && _running->fields == fields) return BridgeAnswer::transaction(200, txnRef);
    if (_running->fromJournal) {
      return BridgeAnswer::error(409, "recovering " + _running->txnRef + " from the journal first; try again when it has ended");
    }
    if (_running->txnRef == txnRef) return BridgeAnswer::error(409, txnRef + " is running with other fields");
    return BridgeAnswer::error(409, _running->txnRef + " is running: one transaction at a time");
  }
  if (!_toRecover.empty()) {
    return BridgeAnswer::error(409, "recovering " + _toRecover.front().txnRef +
                                        " from the journal first; try again when it has ended");
  }
  const auto kept = _results.find(txnRef);
  if (kept != _results.end()) {
    if (kept->second.fields == fields) return BridgeAnswer::transaction(200, txnRef);
    return BridgeAnswer::error(409, txnRef + " has ended with other fields: a reference is never used for a second payment");
  }
  return std::nullopt;
}

BridgeAnswer BridgeTill::start(const BridgeStart& request) {
  const std::string& txnRef = *request.details.txnRef;
  const Fields fields = fieldsOf(request);
  if (auto answer = attachOrRefuse(txnRef, fields)) return *answer;
  auto details = std::make_shared<KOVTransactionDetails>(request.details);
  details->userName = _identity.user;
  details->key = _identity.key;
  details->stationId = _identity.station;
  if (const auto refusal = _engine.refusalOfStart(*details, request.type, KOVRecordCheckStrict)) return refused(*refusal);
  // The journal's unfinished payment with the same fields is followed, not sent again.
  const bool follows = journalHolds(txnRef);
  run(txnRef, fields, request.type, false,
      [&](auto status, auto result, auto signature) {
        _engine.startTransaction(details, request.type, false, false, nullptr, status, result, signature);
      });
  return BridgeAnswer::transaction(follows ? 200 : 202, txnRef);
}

void BridgeTill::run(const std::string& txnRef, std::optional<Fields> fields, std::optional<KOVTransactionType> type,
                     bool fromJournal, const Begin& begin) {
  _running.emplace();
  _running->txnRef = txnRef;
  _running->fields = std::move(fields);
  _running->type = type;
  _running->fromJournal = fromJournal;
  StatusChangeHandler status = [this, txnRef](KOVState state, const std::optional<std::string>& receipt,
                                              const std::string& firstLine, const std::string& secondLine,
                                              const std::optional<std::string>& button1,
                                              const std::optional<std::string>& button2) {
    if (!_running || _running->txnRef != txnRef) return;
    _running->button1 = button1;
    _running->button2 = button2;
    _running->screen = kovtools::statusJson(state, receipt, firstLine, secondLine, button1, button2);
    emit(txnRef, {"screen", *_running->screen}, false);
  };
  KOVTransactionSignatureReceiptHandler signature = [this, txnRef](const std::optional<std::string>& receipt) {
    emit(txnRef, {"signature", receiptJson(receipt)}, false);
  };
  KOVTransactionResultHandler result = [this, txnRef](KOVTransactionResultDetails details) {
    const KOVTransactionOutcome outcome = _engine.lastOutcome();
    std::optional<Fields> fields;
    std::optional<KOVTransactionType> type;
    if (_running && _running->txnRef == txnRef) {
      fields = _running->fields;
      type = _running->type;
    }
    _running.reset();
    const std::string line = kovtools::resultJson(details, outcome);
    _results[txnRef] = Kept{line, fields};
    _metrics.countTransaction(type, details.transactionResult);
    logLine(txnRef + " ended with result " + std::to_string(details.transactionResult) +
            (outcome.reason ? ": " + *outcome.reason : ""));
    emit(txnRef, {"result", line}, true);
    if (!_toRecover.empty()) _loop->post([this] { recoverNext(); });
  };
  begin(std::move(status), std::move(result), std::move(signature));
}

void BridgeTill::emit(const std::string& txnRef, const BridgeEvent& event, bool last) {
  std::vector<BridgeEventSink> sinks;
  for (auto sink = _sinks.begin(); sink != _sinks.end();) {
    if (sink->second.first != txnRef) {
      ++sink;
      continue;
    }
    sinks.push_back(sink->second.second);
    sink = last ? _sinks.erase(sink) : std::next(sink);
  }
  for (const BridgeEventSink& sink : sinks) sink(event);
}

BridgeAnswer BridgeTill::press(const std::string& txnRef, const std::string& button) {
  if (!_running || _running->txnRef != txnRef) return BridgeAnswer::error(409, txnRef + " is not running");
  const std::optional<std::string>& label = button == "B1" ? _running->button1 : _running->button2;
  if (!label) return BridgeAnswer::error(409, "the screen shown has no button " + button);
  // The label shown goes with the press, as the terminal's screen would send it.
  _engine.sendButtonRequest(button, *label);
  return BridgeAnswer::reference(202, txnRef);
}

BridgeAnswer BridgeTill::cancel(const std::string& txnRef) {
  if (!_running || _running->txnRef != txnRef) return BridgeAnswer::error(409, txnRef + " is not running");
  _engine.cancelTransaction();
  return BridgeAnswer::reference(202, txnRef);
}

BridgeAnswer BridgeTill::recover(const std::string& txnRef, const BridgeRecoverBody& body) {
  if (body.txnRef && *body.txnRef != txnRef) {
    return BridgeAnswer::error(400, "the body's txnRef is not the one of the path");
  }
  if (_running && _running->txnRef == txnRef) return BridgeAnswer::transaction(200, txnRef);
  if (_running || !_toRecover.empty()) {
    const std::string& busy = _running ? _running->txnRef : _toRecover.front().txnRef;
    return BridgeAnswer::error(409, busy + " is running: one transaction at a time");
  }
  if (_results.contains(txnRef)) return BridgeAnswer::transaction(200, txnRef);
  if (!body.txnRef && !journalHolds(txnRef)) {
    return BridgeAnswer::error(404, "the journal holds no unfinished " + txnRef +
                                        "; to ask the service about it all the same, send {\"txnRef\":\"" + txnRef + "\"}");
  }
  KOVTransactionRecoveryDetails details;
  details.userName = _identity.user;
  details.stationId = _identity.station;
  details.key = _identity.key;
  details.txnRef = txnRef;
  details.skipSignatureVerification = body.skipSignature;
  if (const auto refusal = _engine.refusalOfRecovery(details, KOVRecordCheckStrict)) return refused(*refusal);
  run(txnRef, std::nullopt, std::nullopt, false, [&](auto status, auto result, auto signature) {
    _engine.recoverTransaction(details, false, false, nullptr, status, result, signature);
  });
  return BridgeAnswer::transaction(202, txnRef);
}

BridgeAnswer BridgeTill::acknowledge(const std::string& txnRef) {
  if (_running && _running->txnRef == txnRef) {
    return BridgeAnswer::error(409, txnRef + " is still running: its result comes on its events");
  }
  if (!_results.contains(txnRef) && !journalHolds(txnRef)) {
    return BridgeAnswer::error(404, "no result of " + txnRef + " waits to be acknowledged");
  }
  std::string why;
  if (!_engine.acknowledge(txnRef, &why)) return BridgeAnswer::error(503, why);
  _results.erase(txnRef);
  return BridgeAnswer::reference(200, txnRef);
}

BridgeAnswer BridgeTill::pending() const {
  std::string why;
  const auto entries = _engine.pendingTransactions(&why);
  if (!entries) return BridgeAnswer::error(503, why);
  std::string body = "[";
  for (const KOVJournalEntry& entry : *entries) {
    body += (body.size() > 1 ? "," : "") + kovtools::pendingJson(entry);
  }
  return {200, body + "]"};
}

std::size_t BridgeTill::pendingCount() const {
  const auto entries = _engine.pendingTransactions();
  return entries ? entries->size() : 0;
}

BridgeSubscription BridgeTill::subscribe(const std::string& txnRef, BridgeEventSink sink) {
  BridgeSubscription subscription;
  const auto kept = _results.find(txnRef);
  if ((!_running || _running->txnRef != txnRef) && kept != _results.end()) {
    subscription.known = true;
    subscription.ended = true;
    subscription.backlog.push_back({"result", kept->second.line});
    return subscription;
  }
  const bool queued = std::any_of(_toRecover.begin(), _toRecover.end(),
                                  [&txnRef](const KOVJournalEntry& entry) { return entry.txnRef == txnRef; });
  if ((!_running || _running->txnRef != txnRef) && !queued) return subscription;
  subscription.known = true;
  if (_running && _running->txnRef == txnRef && _running->screen) {
    subscription.backlog.push_back({"screen", *_running->screen});
  }
  subscription.id = _nextSink++;
  _sinks.emplace(subscription.id, std::make_pair(txnRef, std::move(sink)));
  return subscription;
}

void BridgeTill::unsubscribe(uint64_t id) { _sinks.erase(id); }

void BridgeTill::shutdown() {
  _toRecover.clear();
  _sinks.clear();
  _engine.releaseSession();
}

}  // namespace kovbridge
