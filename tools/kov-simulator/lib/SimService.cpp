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

SimReply SimService::handleTransaction(const SimRequest& request, std::unique_lock<std::mutex>& lock) {
  const Clock::time_point now = Clock::now();
  if (request.txnRef.empty()) {
    return refusal("pd", "MISSING TXNREF");
  }
  // A request sent again for a TxnRef the service knows never starts a second payment:
  // it is answered with that transaction as it stands.
  const auto known = _transactions.find(request.txnRef);
  if (known != _transactions.end()) {
    known->second.advance(now);
    SimReply reply = answerAtOnce(known->second, lock);
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
  SimTransaction& txn =
      _transactions.try_emplace(request.txnRef, std::move(info), scenario, _config.speed, now).first->second;
  SimReply reply = answerAtOnce(txn, lock);
  std::string started = "started (" + scenarioName(scenario);
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
  const SimFault fault = faultFor(*txn);
  if (isFailure(fault)) {
    return failure(*txn, fault, lock);
  }
  if (!txn->finished() && !txn->takeButtonRequest()) {
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
  return answerFor(*txn, true, fault);
}

SimReply SimService::handleButton(const SimRequest& request, std::unique_lock<std::mutex>& lock) {
  SimTransaction* txn = find(request);
  if (!txn) {
    return refusal("pn", "TRANSACTION NOT FOUND");
  }
  const SimFault fault = faultFor(*txn);
  if (isFailure(fault)) {
    return failure(*txn, fault, lock);  // the press is lost with its request
  }
  txn->noteButtonRequest();
  const bool changed = request.uiType == "Bn" && txn->press(request.buttonName, Clock::now());
  if (changed) {
    _changed.notify_all();
  }
  // The client does not read this answer: the screen it shows still counts as unsent.
  SimReply reply = answerFor(*txn, false, fault);
  reply.summary = (changed ? "pressed " : "ignored press of ") + request.buttonName + " " +
                  quoted(request.buttonValue) + ", " + reply.summary;
  return reply;
}

SimReply SimService::answerAtOnce(SimTransaction& txn, std::unique_lock<std::mutex>& lock) {
  const SimFault fault = faultFor(txn);
  return isFailure(fault) ? failure(txn, fault, lock) : answerFor(txn, true, fault);
}

SimFault SimService::faultFor(SimTransaction& txn) {
  const SimScenario& scenario = txn.scenario();
  return scenario.hits(txn.takeRequestNumber()) ? scenario.fault : SimFault::None;
}

SimReply SimService::failure(SimTransaction& txn, SimFault fault, std::unique_lock<std::mutex>& lock) {
  const int clientTimeOutMs = (txn.timeOutSent() ? _config.tmoSeconds : kClientDefaultTimeOutSeconds) * 1000;
  SimReply reply;
  switch (fault) {
    case SimFault::Stall:
      _changed.wait_for(lock, std::chrono::milliseconds(clientTimeOutMs + kStallPastTimeOutMs),
                        [this] { return _stopping; });
      txn.advance(Clock::now());
      reply = answerFor(txn, false, SimFault::None);
      reply.summary = "stalled, then " + reply.summary;
      return reply;
    case SimFault::Http404:
      reply.status = 404;
      break;
    case SimFault::Http502:
      reply.status = 502;
      reply.contentType = "text/html; charset=utf-8";
      reply.body = gatewayPage();
      break;
    case SimFault::ResetBody:
    case SimFault::Cut:
    case SimFault::Trickle:
      reply.body = answerFor(txn, false, SimFault::None).body;
      reply.trickleMs = fault == SimFault::Trickle ? 2 * clientTimeOutMs : 0;
      reply.fault = fault;
      break;
    default:  // Close, Reset, Refuse, Oversize: the server plays them alone
      reply.fault = fault;
      break;
  }
  reply.summary = "fault " + std::string(faultName(fault));
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

SimReply SimService::answerFor(SimTransaction& txn, bool readByClient, SimFault fault) const {
  if (readByClient) {
    txn.markAnswered();
  }
  SimReply reply;
  if (txn.finished()) {
    // Never broken by a fault of an answer: nothing else could end the transaction.
    const SimResult& result = txn.result();
    reply.body = resultDocument(result, txn.scenario().terminal == SimTerminal::ResultComplete
                                            ? SimCompleteForm::Result
                                            : SimCompleteForm::Root);
    reply.summary = "result AP=" + result.field("AP") + " RC=" + result.field("RC") + " " + quoted(result.field("RT"));
  } else if (fault != SimFault::None && fault != SimFault::Http500 && fault != SimFault::OddTmo) {
    reply.body = brokenBody(fault);
    reply.summary = std::string(faultName(fault)) + " instead of screen " + quoted(txn.screen().line1);
  } else {
    const SimScreen screen = txn.screen();
    reply.body = screenDocument(screen, fault == SimFault::OddTmo ? oddTimeOut(txn.version())
                                                                 : std::to_string(_config.tmoSeconds));
    reply.summary = "screen " + quoted(screen.line1);
    if (readByClient) {
      txn.noteTimeOutSent();
    }
  }
  if (fault == SimFault::Http500) {
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
