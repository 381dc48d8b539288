#include "SimService.h"

#include <algorithm>
#include <array>
#include <utility>

#include "SimDocuments.h"

namespace kovsim {
namespace {

constexpr std::array<std::string_view, 5> kTransactionTypes{"Purchase", "Auth", "Complete", "Refund", "Void"};

bool isTransactionType(const std::string& type) {
  return std::find(kTransactionTypes.begin(), kTransactionTypes.end(), type) != kTransactionTypes.end();
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

SimService::SimService(SimConfig config) : _config(std::move(config)) {}

void SimService::shutdown() {
  {
    const std::lock_guard<std::mutex> guard(_lock);
    _stopping = true;
  }
  _changed.notify_all();
}

bool SimService::waitForHeldStatus(const std::string& txnRef, std::size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(_lock);
  return _changed.wait_for(lock, timeout, [&] {
    const auto found = _held.find(txnRef);
    return found != _held.end() && found->second >= n;
  });
}

SimReply SimService::handle(std::string_view body) {
  const std::optional<SimRequest> parsed = parseRequest(body);
  if (!parsed) {
    _stats.countRequest("", "");
    return refusal("pd", "MALFORMED REQUEST", 400);
  }
  const SimRequest& request = *parsed;
  _stats.countRequest(request.txnRef, request.txnType);

  std::unique_lock<std::mutex> lock(_lock);
  SimReply reply;
  if (request.action != "doScrKOV") {
    reply = refusal("pd", "UNKNOWN ACTION", 400);
  } else if (request.user != _config.user || request.key != _config.key) {
    // One answer for both, so a caller cannot learn which of the two was right.
    reply = refusal("p8", "INVALID USER OR KEY");
  } else if (request.txnType == "Status") {
    reply = handleStatus(request, lock);
  } else if (request.txnType == "UI") {
    reply = handleButton(request, lock);
  } else if (isTransactionType(request.txnType)) {
    reply = handleTransaction(request, lock);
  } else {
    reply = refusal("p7", "INVALID TRANSACTION TYPE");
  }
  reply.txnRef = request.txnRef;
  reply.txnType = request.txnType;
  return reply;
}

SimReply SimService::handleTransaction(const SimRequest& request, std::unique_lock<std::mutex>&) {
  const Clock::time_point now = Clock::now();
  if (request.txnRef.empty()) {
    return refusal("pd", "MISSING TXNREF");
  }
  // A request sent again for a TxnRef the service knows never starts a second payment:
  // it is answered with that transaction as it stands.
  const auto known = _transactions.find(request.txnRef);
  if (known != _transactions.end()) {
    known->second.advance(now);
    SimReply reply = answerFor(known->second, true);
    reply.summary = "repeated, " + reply.summary;
    return reply;
  }
  if (request.station.empty() || (!_config.stations.empty() && !_config.stations.count(request.station))) {
    return refusal("p9", "INVALID STATION");
  }
  if (_config.offline.count(request.station)) {
    return refusal("tq", "TERMINAL NOT CONNECTED");
  }
  if (stationBusy(request.station)) {
    return refusal("pc", "TERMINAL BUSY");
  }

  bool unknownName = false;
  const std::optional<SimScenario> asked = scenarioFromMerchantRef(request.merchantRef, unknownName);
  const SimScenario scenario = asked.value_or(_config.scenario);

  SimTransactionInfo info{request.txnRef, request.station, request.txnType, request.amount, request.currency,
                          ++_sequence};
  auto [entry, inserted] =
      _transactions.try_emplace(request.txnRef, std::move(info), scenario, _config.speed, now);
  (void)inserted;
  SimReply reply = answerFor(entry->second, true);
  std::string started = "started (" + std::string(scenarioName(scenario));
  if (unknownName) {
    started += ", unknown scenario " + quoted(request.merchantRef);
  }
  reply.summary = started + "), " + reply.summary;
  return reply;
}

SimReply SimService::handleStatus(const SimRequest& request, std::unique_lock<std::mutex>& lock) {
  SimTransaction* txn = find(request);
  if (!txn) {
    return refusal("pn", "TRANSACTION NOT FOUND");
  }
  Clock::time_point now = Clock::now();
  txn->advance(now);
  if (txn->scenario() == SimScenario::Drop) {
    return answerFor(*txn, true);
  }
  if (txn->scenario() == SimScenario::Stall) {
    const Clock::time_point until = now + std::chrono::milliseconds(_config.stallMs());
    _changed.wait_until(lock, until, [this] { return _stopping; });
  } else if (!txn->finished() && !txn->takeButtonRequest()) {
    // Long poll: answer when the screen differs from the one last sent, or with the same
    // screen at the hold limit.
    const std::uint64_t seen = txn->answeredVersion();
    const Clock::time_point holdUntil = now + std::chrono::milliseconds(_config.effectiveHoldMs());
    ++_held[request.txnRef];
    _changed.notify_all();
    while (!_stopping) {
      now = Clock::now();
      txn->advance(now);
      if (txn->version() != seen || now >= holdUntil) {
        break;
      }
      const std::optional<Clock::time_point> next = txn->nextChange();
      _changed.wait_until(lock, next ? std::min(*next, holdUntil) : holdUntil);
    }
    --_held[request.txnRef];
  }
  txn->advance(Clock::now());
  return answerFor(*txn, true);
}

SimReply SimService::handleButton(const SimRequest& request, std::unique_lock<std::mutex>&) {
  SimTransaction* txn = find(request);
  if (!txn) {
    return refusal("pn", "TRANSACTION NOT FOUND");
  }
  if (txn->scenario() == SimScenario::Drop) {
    return answerFor(*txn, false);
  }
  txn->noteButtonRequest();
  const bool changed = request.uiType == "Bn" && txn->press(request.buttonName, Clock::now());
  if (changed) {
    _changed.notify_all();
  }
  // The client does not read this answer: the screen it shows still counts as unsent.
  SimReply reply = answerFor(*txn, false);
  reply.summary = (changed ? "pressed " : "ignored press of ") + request.buttonName + " " +
                  quoted(request.buttonValue) + ", " + reply.summary;
  return reply;
}

SimTransaction* SimService::find(const SimRequest& request) {
  const auto found = _transactions.find(request.txnRef);
  if (found == _transactions.end()) {
    return nullptr;
  }
  // The transaction belongs to its station; another station's request does not see it.
  if (!request.station.empty() && request.station != found->second.info().station) {
    return nullptr;
  }
  return &found->second;
}

bool SimService::stationBusy(const std::string& station) {
  const Clock::time_point now = Clock::now();
  for (auto& [txnRef, txn] : _transactions) {
    if (txn.info().station == station) {
      txn.advance(now);
      if (!txn.finished()) {
        return true;
      }
    }
  }
  return false;
}

SimReply SimService::answerFor(SimTransaction& txn, bool readByClient) const {
  if (readByClient) {
    txn.markAnswered();
  }
  SimReply reply;
  const SimScenario scenario = txn.scenario();
  if (scenario == SimScenario::Drop) {
    reply.drop = true;
    reply.summary = "dropped";
    return reply;
  }
  if (txn.finished()) {
    const SimResult& result = txn.result();
    reply.body = resultDocument(
        result, scenario == SimScenario::ResultComplete ? SimCompleteForm::Result : SimCompleteForm::Root);
    reply.summary = "result AP=" + result.field("AP") + " RC=" + result.field("RC") + " " + quoted(result.field("RT"));
  } else if (scenario == SimScenario::Garbage) {
    reply.body = garbageBody();
    reply.summary = "garbage for screen " + quoted(txn.screen().line1);
  } else if (scenario == SimScenario::Empty) {
    reply.summary = "empty body for screen " + quoted(txn.screen().line1);
  } else {
    const SimScreen screen = txn.screen();
    reply.body = screenDocument(screen, _config.tmoSeconds);
    reply.summary = "screen " + quoted(screen.line1);
  }
  if (scenario == SimScenario::Http500) {
    reply.status = 500;
  }
  return reply;
}

SimReply SimService::refusal(const std::string& responseCode, const std::string& responseText, int status) const {
  SimReply reply;
  reply.status = status;
  reply.body = resultDocument(serviceError(responseCode, responseText), SimCompleteForm::Root);
  reply.summary = "refused RC=" + responseCode + " " + quoted(responseText);
  return reply;
}

}  // namespace kovsim
