#include "SimService.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "SimDocuments.h"

namespace kovsim {
namespace {

constexpr std::array<std::string_view, 5> kTransactionTypes{"Purchase", "Auth", "Complete", "Refund", "Void"};

bool isTransactionType(const std::string& type) {
  return std::find(kTransactionTypes.begin(), kTransactionTypes.end(), type) != kTransactionTypes.end();
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// The answer with the prefix put before its summary.
SimAnswer withSummaryPrefix(std::string prefix, SimAnswer answer) {
  return [prefix = std::move(prefix), answer = std::move(answer)](SimReply reply) {
    reply.summary = prefix + reply.summary;
    answer(std::move(reply));
  };
}

// Where the Http307 fault sends the client; a client must not follow it.
constexpr const char* kMovedPath = "/wqmi3/moved.aspx";

void remember(SimAsked* asked, const std::string& txnRef) {
  if (asked) {
    asked->txnRefs.insert(txnRef);
  }
}

}  // namespace

SimService::SimService(SimConfig config) : _config(std::move(config)) {}

void SimService::deliver(Delivery& out) {
  for (auto& [answer, reply] : out) {
    answer(std::move(reply));
  }
}

void SimService::shutdown() {
  Delivery out;
  {
    const std::lock_guard<std::mutex> guard(_lock);
    _stopping = true;
    const Clock::time_point now = Clock::now();
    for (auto& [id, held] : _holds) {
      answerIfDue(held, now, out);
    }
    _holds.clear();
    _due.clear();
    _held.clear();
  }
  _changed.notify_all();
  deliver(out);
}

bool SimService::waitForHeldStatus(const std::string& txnRef, std::size_t n, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(_lock);
  return _changed.wait_for(lock, timeout, [&] {
    const auto found = _held.find(txnRef);
    return found != _held.end() && found->second >= n;
  });
}

std::optional<SimService::Clock::time_point> SimService::nextWake() const {
  const std::lock_guard<std::mutex> guard(_lock);
  return _due.empty() ? std::nullopt : std::optional<Clock::time_point>(_due.begin()->first);
}

void SimService::wake(Clock::time_point now) {
  Delivery out;
  {
    const std::lock_guard<std::mutex> guard(_lock);
    while (!_due.empty() && _due.begin()->first <= now) {
      const auto held = _holds.find(_due.begin()->second);
      _due.erase(_due.begin());
      if (answerIfDue(held->second, now, out)) {
        held->second.due = _due.end();
        release(held);
      } else {
        held->second.due = _due.emplace(dueTime(held->second), held->first);
      }
    }
  }
  deliver(out);
}

void SimService::hold(Held held) {
  if (held.fault != SimFault::Stall) {
    ++_held[held.txn->info().txnRef];
    _changed.notify_all();
  }
  const std::uint64_t id = ++_holdSequence;
  const Clock::time_point due = dueTime(held);
  Held& kept = _holds.emplace(id, std::move(held)).first->second;
  kept.due = _due.emplace(due, id);
}

SimService::Clock::time_point SimService::dueTime(const Held& held) const {
  const std::optional<Clock::time_point> next = held.txn->nextChange();
  return held.fault != SimFault::Stall && next ? std::min(*next, held.until) : held.until;
}

bool SimService::answerIfDue(Held& held, Clock::time_point now, Delivery& out) {
  SimTransaction& txn = *held.txn;
  txn.advance(now);
  if (held.fault == SimFault::Stall) {
    if (now < held.until && !_stopping) {
      return false;
    }
    out.emplace_back(std::move(held.answer), stallEnd(txn));
    return true;
  }
  // A long poll: answered when the screen differs from the one the client has, or with the
  // same screen at the hold limit.
  if (txn.version() == held.seen && now < held.until && !_stopping) {
    return false;
  }
  out.emplace_back(std::move(held.answer), answerFor(txn, true, held.fault));
  return true;
}

void SimService::release(std::map<std::uint64_t, Held>::iterator held) {
  if (held->second.due != _due.end()) {
    _due.erase(held->second.due);
  }
  if (held->second.fault != SimFault::Stall) {
    --_held[held->second.txn->info().txnRef];
  }
  _holds.erase(held);
}

void SimService::handle(std::string_view body, SimAnswer answer, SimAsked* asked) {
  const std::optional<SimRequest> parsed = parseRequest(body);
  if (!parsed) {
    _stats.countRequest("", "");
    answer(refusal("pd", "MALFORMED REQUEST", 400));
    return;
  }
  const SimRequest& request = *parsed;
  _stats.countRequest(request.txnRef, request.txnType);

  SimAnswer labelled = [answer = std::move(answer), txnRef = request.txnRef,
                        txnType = request.txnType](SimReply reply) {
    reply.txnRef = txnRef;
    reply.txnType = txnType;
    answer(std::move(reply));
  };
  Delivery out;
  {
    const std::lock_guard<std::mutex> guard(_lock);
    if (request.action != "doScrKOV") {
      out.emplace_back(std::move(labelled), refusal("pd", "UNKNOWN ACTION", 400));
    } else if (request.user != _config.user || request.key != _config.key) {
      // One answer for both, so a caller cannot learn which of the two was right.
      out.emplace_back(std::move(labelled), refusal("p8", "INVALID USER OR KEY"));
    } else if (request.txnType == "Status") {
      handleStatus(request, asked && asked->txnRefs.insert(request.txnRef).second, std::move(labelled), out);
    } else if (request.txnType == "UI") {
      remember(asked, request.txnRef);
      handleButton(request, std::move(labelled), out);
    } else if (isTransactionType(request.txnType)) {
      remember(asked, request.txnRef);
      handleTransaction(request, std::move(labelled), out);
    } else {
      out.emplace_back(std::move(labelled), refusal("p7", "INVALID TRANSACTION TYPE"));
    }
  }
  deliver(out);
}

void SimService::handleTransaction(const SimRequest& request, SimAnswer answer, Delivery& out) {
  const Clock::time_point now = Clock::now();
  if (request.txnRef.empty()) {
    out.emplace_back(std::move(answer), refusal("pd", "MISSING TXNREF"));
    return;
  }
  // A request sent again for a TxnRef the service knows never starts a second payment:
  // it is answered with that transaction as it stands.
  const auto known = _transactions.find(request.txnRef);
  if (known != _transactions.end()) {
    known->second.advance(now);
    answerTransaction(known->second, withSummaryPrefix("repeated, ", std::move(answer)), out);
    return;
  }
  if (request.station.empty() || (!_config.stations.empty() && !_config.stations.count(request.station))) {
    out.emplace_back(std::move(answer), refusal("p9", "INVALID STATION"));
  } else if (_config.offline.count(request.station)) {
    out.emplace_back(std::move(answer), refusal("tq", "TERMINAL NOT CONNECTED"));
  } else if (stationBusy(request.station)) {
    out.emplace_back(std::move(answer), refusal("pc", "TERMINAL BUSY"));
  } else {
    bool unknownName = false;
    const std::optional<SimScenario> asked = scenarioFromMerchantRef(request.merchantRef, unknownName);
    const SimScenario scenario = asked.value_or(_config.scenario);

    SimTransactionInfo info{request.txnRef, request.station, request.txnType, request.amount, request.currency,
                            ++_sequence};
    SimTransaction& txn =
        _transactions.try_emplace(request.txnRef, std::move(info), scenario, _config.speed, now).first->second;
    std::string started = "started (" + scenarioName(scenario);
    if (unknownName) {
      started += ", unknown scenario " + quoted(request.merchantRef);
    }
    answerTransaction(txn, withSummaryPrefix(started + "), ", std::move(answer)), out);
  }
}

void SimService::handleStatus(const SimRequest& request, bool firstOnConnection, SimAnswer answer, Delivery& out) {
  SimTransaction* txn = find(request);
  if (!txn) {
    out.emplace_back(std::move(answer), refusal("pn", "TRANSACTION NOT FOUND"));
    return;
  }
  const Clock::time_point now = Clock::now();
  txn->advance(now);
  const SimFault fault = faultFor(*txn);
  if (isFailure(fault)) {
    failure(*txn, fault, std::move(answer), out);
    return;
  }
  if (!txn->finished() && !firstOnConnection && !txn->takeButtonRequest()) {
    // Long poll: answered when the screen differs from the one last sent, or with the same
    // screen at the hold limit.
    Held held{txn, std::move(answer), fault, txn->answeredVersion(),
              now + std::chrono::milliseconds(_config.effectiveHoldMs()), _due.end()};
    if (!answerIfDue(held, now, out)) {
      hold(std::move(held));
    }
    return;
  }
  out.emplace_back(std::move(answer), answerFor(*txn, true, fault));
}

void SimService::handleButton(const SimRequest& request, SimAnswer answer, Delivery& out) {
  SimTransaction* txn = find(request);
  if (!txn) {
    out.emplace_back(std::move(answer), refusal("pn", "TRANSACTION NOT FOUND"));
    return;
  }
  const SimFault fault = faultFor(*txn);
  if (isFailure(fault)) {
    failure(*txn, fault, std::move(answer), out);  // the press is lost with its request
    return;
  }
  txn->noteButtonRequest();
  const Clock::time_point now = Clock::now();
  const bool changed = request.uiType == "Bn" && txn->press(request.buttonName, now);
  // The client does not read this answer: the screen it shows still counts as unsent.
  SimReply reply = answerFor(*txn, false, fault);
  reply.summary = (changed ? "pressed " : "ignored press of ") + request.buttonName + " " +
                  quoted(request.buttonValue) + ", " + reply.summary;
  out.emplace_back(std::move(answer), std::move(reply));
  // The polls held for the old screen are answered with the new one at once.
  for (auto held = _holds.begin(); changed && held != _holds.end();) {
    const auto next = std::next(held);
    if (held->second.txn == txn && answerIfDue(held->second, now, out)) {
      release(held);
    }
    held = next;
  }
}

void SimService::answerTransaction(SimTransaction& txn, SimAnswer answer, Delivery& out) {
  const SimFault fault = faultFor(txn);
  if (isFailure(fault)) {
    failure(txn, fault, std::move(answer), out);
  } else {
    out.emplace_back(std::move(answer), answerFor(txn, true, fault));
  }
}

SimFault SimService::faultFor(SimTransaction& txn) {
  const SimScenario& scenario = txn.scenario();
  return scenario.hits(txn.takeRequestNumber()) ? scenario.fault : SimFault::None;
}

void SimService::failure(SimTransaction& txn, SimFault fault, SimAnswer answer, Delivery& out) {
  const int clientTimeOutMs = (txn.timeOutSent() ? _config.tmoSeconds : kClientDefaultTimeOutSeconds) * 1000;
  const int pastTimeOutMs = clientTimeOutMs + kStallPastTimeOutMs;
  SimReply reply;
  switch (fault) {
    case SimFault::Stall:
      if (_stopping) {
        out.emplace_back(std::move(answer), stallEnd(txn));
      } else {
        hold(Held{&txn, std::move(answer), fault, 0, Clock::now() + std::chrono::milliseconds(pastTimeOutMs),
                  _due.end()});
      }
      return;
    case SimFault::Http404:
      reply.status = 404;
      break;
    case SimFault::Http502:
      reply.status = 502;
      reply.contentType = "text/html; charset=utf-8";
      reply.body = gatewayPage();
      break;
    case SimFault::Http307:
    case SimFault::Http301:
    case SimFault::Http302:
      reply.status = fault == SimFault::Http307 ? 307 : fault == SimFault::Http301 ? 301 : 302;
      reply.location = kMovedPath;
      break;
    case SimFault::Http204:
      reply.status = 204;
      break;
    case SimFault::Http503:
      reply.status = 503;
      reply.retryAfter = "1";
      break;
    case SimFault::Maintenance:
      reply.contentType = "text/html; charset=utf-8";
      reply.body = maintenancePage();
      break;
    case SimFault::ResetBody:
    case SimFault::Cut:
    case SimFault::Trickle:
    case SimFault::HugeHeader:
    case SimFault::DoubleLength:
      reply.body = answerFor(txn, false, SimFault::None).body;
      reply.playMs = fault == SimFault::Trickle ? 2 * clientTimeOutMs : 0;
      reply.fault = fault;
      break;
    case SimFault::OversizeLength:
    case SimFault::OversizeOpen:
      reply.playMs = pastTimeOutMs;
      reply.fault = fault;
      break;
    default:  // Close, Reset, Refuse, Oversize, Http2Only: the server plays them alone
      reply.fault = fault;
      break;
  }
  reply.summary = "fault " + std::string(faultName(fault));
  out.emplace_back(std::move(answer), std::move(reply));
}

SimReply SimService::stallEnd(SimTransaction& txn) const {
  txn.advance(Clock::now());
  SimReply reply = answerFor(txn, false, SimFault::None);
  reply.summary = "stalled, then " + reply.summary;
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
