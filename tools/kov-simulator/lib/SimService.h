#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

#include "SimConfig.h"
#include "SimRequest.h"
#include "SimStats.h"
#include "SimTransaction.h"

namespace kovsim {

/// What the server does with one request.
struct SimReply {
  /// A fault the server plays on the connection instead of a plain answer: Close, Reset,
  /// Refuse (no answer), ResetBody, Cut, Trickle, Oversize (the body, broken by the fault).
  SimFault fault = SimFault::None;
  int status = 200;
  std::string contentType = "text/xml; charset=utf-8";
  std::string body;
  int trickleMs = 0;    ///< with Trickle: how long the whole answer takes
  std::string txnRef;   ///< for the log line
  std::string txnType;  ///< for the log line
  std::string summary;  ///< for the log line: what the answer shows
};

/// The payment service behind the endpoint: terminals per station, transactions per TxnRef,
/// the service's checks and the scenarios. Thread-safe: requests come from the server's
/// worker threads; status requests wait on a condition variable for the screen to change.
class SimService {
 public:
  explicit SimService(SimConfig config);

  /// Answers one posted document. A status request may block up to the hold limit, a
  /// stalled one past the client's time-out; shutdown() ends every wait at once.
  SimReply handle(std::string_view body);

  /// Wakes every held request and makes later ones answer without waiting.
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
  using Clock = SimTransaction::Clock;

  SimReply handleTransaction(const SimRequest& request, std::unique_lock<std::mutex>& lock);
  SimReply handleStatus(const SimRequest& request, std::unique_lock<std::mutex>& lock);
  SimReply handleButton(const SimRequest& request, std::unique_lock<std::mutex>& lock);

  SimTransaction* find(const SimRequest& request);
  /// The answer to a transaction request: the transaction as it stands, or the fault that
  /// meets the request.
  SimReply answerAtOnce(SimTransaction& txn, std::unique_lock<std::mutex>& lock);
  /// The fault that meets the request arriving now for the transaction (None for most).
  static SimFault faultFor(SimTransaction& txn);
  /// The reply to a request that meets a failure fault; a stall waits here.
  SimReply failure(SimTransaction& txn, SimFault fault, std::unique_lock<std::mutex>& lock);
  /// The answer that shows the transaction as it is now, broken by a fault of an answer;
  /// readByClient marks its screen as the one the client has.
  SimReply answerFor(SimTransaction& txn, bool readByClient, SimFault fault) const;
  SimReply refusal(const std::string& responseCode, const std::string& responseText, int status = 200) const;
  bool stationBusy(const std::string& station);

  SimConfig _config;
  SimStats _stats;
  std::mutex _lock;
  std::condition_variable _changed;
  bool _stopping = false;
  std::uint64_t _sequence = 0;
  std::map<std::string, SimTransaction> _transactions;  // by TxnRef
  std::map<std::string, std::size_t> _held;             // status requests in a long poll, by TxnRef
};

}  // namespace kovsim
