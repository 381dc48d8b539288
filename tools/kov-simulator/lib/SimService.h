#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "SimConfig.h"
#include "SimRequest.h"
#include "SimStats.h"
#include "SimTransaction.h"

namespace kovsim {

/// What the server does with one request.
struct SimReply {
  /// A fault the server plays on the connection instead of a plain answer: Close, Reset,
  /// Refuse, Http2Only (no answer of HTTP/1.1), ResetBody, Cut, Trickle, Oversize,
  /// OversizeLength, OversizeOpen, HugeHeader, DoubleLength (the body, broken by the fault).
  SimFault fault = SimFault::None;
  int status = 200;
  std::string contentType = "text/xml; charset=utf-8";
  std::string location;  ///< with status 307: where the answer sends the client
  std::string retryAfter;  ///< the Retry-After header's value, when there is one
  std::string body;
  /// With Trickle: how long the whole answer takes; with OversizeLength and OversizeOpen:
  /// how long the line is held after what is sent.
  int playMs = 0;
  std::string txnRef;   ///< for the log line
  std::string txnType;  ///< for the log line
  std::string summary;  ///< for the log line: what the answer shows
};

/// Takes the reply to one request; called once for each request.
using SimAnswer = std::function<void(SimReply)>;

/// The transactions one connection has asked about, kept by the connection for the service.
struct SimAsked {
  std::set<std::string> txnRefs;
};

/// The payment service behind the endpoint: terminals per station, transactions per TxnRef,
/// the service's checks and the scenarios. Nothing in it waits: a request is answered at
/// once, or held (a long poll, a stall) and answered later by wake(), by a button press that
/// changes its screen, or by shutdown(). Thread-safe; answers are called without a lock
/// held, on the thread of the call that gives them.
class SimService {
 public:
  using Clock = SimTransaction::Clock;

  explicit SimService(SimConfig config);

  /// Answers one posted document: at once, before this call returns, or later. A status
  /// request is held until its screen differs from the one the client has or the hold limit
  /// passes; a stalled request until past the client's time-out. asked is what the request's
  /// connection asked about before, brought up to date here: a status request for a TxnRef
  /// its connection has not asked about (a recovering till's first) is answered at once, so
  /// that the till shows the screen now. Without it, every connection is taken as the one
  /// that asked before.
  void handle(std::string_view body, SimAnswer answer, SimAsked* asked = nullptr);

  /// When wake() has a held request to answer next; nullopt while none is held.
  std::optional<Clock::time_point> nextWake() const;
  /// Answers the held requests that are due by now.
  void wake(Clock::time_point now);

  /// Answers every held request at once and makes later ones answer without waiting.
  void shutdown();

  /// The client's poll time-out before any screen gave it another (its default).
  static constexpr int kClientDefaultTimeOutSeconds = 30;
  /// How long after the client's time-out a stalled answer comes.
  static constexpr int kStallPastTimeOutMs = 2000;

  /// Waits until n status requests of the TxnRef are held in a long poll, or the time-out
  /// passed; true when they are. Lets a test act while a poll is surely held.
  bool waitForHeldStatus(const std::string& txnRef, std::size_t n, std::chrono::milliseconds timeout);

  SimStats& stats() { return _stats; }
  const SimConfig& config() const { return _config; }

 private:
  /// Answers with their replies, called once the lock is released.
  using Delivery = std::vector<std::pair<SimAnswer, SimReply>>;

  /// A request whose answer waits: a long poll, or a stall.
  struct Held {
    SimTransaction* txn;
    SimAnswer answer;
    SimFault fault;          ///< Stall, or the fault of an answer that meets the long poll
    std::uint64_t seen;      ///< a long poll: the version of the screen the client had
    Clock::time_point until;  ///< the hold limit, or the stall's end
    std::multimap<Clock::time_point, std::uint64_t>::iterator due;
  };

  void handleTransaction(const SimRequest& request, SimAnswer answer, Delivery& out);
  void handleStatus(const SimRequest& request, bool firstOnConnection, SimAnswer answer, Delivery& out);
  void handleButton(const SimRequest& request, SimAnswer answer, Delivery& out);

  SimTransaction* find(const SimRequest& request);
  /// The answer to a transaction request: the transaction as it stands, or the fault that
  /// meets the request.
  void answerTransaction(SimTransaction& txn, SimAnswer answer, Delivery& out);
  /// The fault that meets the request arriving now for the transaction (None for most).
  static SimFault faultFor(SimTransaction& txn);
  /// The reply to a request that meets a failure fault; a stall is held.
  void failure(SimTransaction& txn, SimFault fault, SimAnswer answer, Delivery& out);
  /// The answer that shows the transaction as it is now, broken by a fault of an answer;
  /// readByClient marks its screen as the one the client has.
  SimReply answerFor(SimTransaction& txn, bool readByClient, SimFault fault) const;
  /// The answer a stall gives when it ends.
  SimReply stallEnd(SimTransaction& txn) const;
  SimReply refusal(const std::string& responseCode, const std::string& responseText, int status = 200) const;
  bool stationBusy(const std::string& station);

  /// Keeps the answer until the held request is due.
  void hold(Held held);
  /// Answers the held request when it is due by now (or the service stops); true when it did.
  bool answerIfDue(Held& held, Clock::time_point now, Delivery& out);
  /// Forgets an answered held request.
  void release(std::map<std::uint64_t, Held>::iterator held);
  /// When the held request is to be looked at next.
  Clock::time_point dueTime(const Held& held) const;
  static void deliver(Delivery& out);

  SimConfig _config;
  SimStats _stats;
  mutable std::mutex _lock;
  std::condition_variable _changed;
  bool _stopping = false;
  std::uint64_t _sequence = 0;
  std::map<std::string, SimTransaction> _transactions;  // by TxnRef
  std::map<std::string, std::size_t> _held;             // status requests in a long poll, by TxnRef
  std::uint64_t _holdSequence = 0;
  std::map<std::uint64_t, Held> _holds;                 // by arrival
  std::multimap<Clock::time_point, std::uint64_t> _due;  // held requests by when they are due
};

}  // namespace kovsim
