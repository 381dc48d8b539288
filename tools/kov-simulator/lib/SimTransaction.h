#pragma once
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "SimScenario.h"
#include "SimScreen.h"

namespace kovsim {

/// What the transaction request said about the transaction.
struct SimTransactionInfo {
  std::string txnRef;
  std::string station;
  std::string txnType;
  std::string amount;
  std::string currency;
  std::uint64_t sequence = 0;  ///< gives the references and codes of the result
};

/// One transaction on a simulated terminal: a screen state machine driven by a clock and by
/// button presses. Not thread-safe; the service guards it.
class SimTransaction {
 public:
  using Clock = std::chrono::steady_clock;

  /// How long each automatic screen stays up before it moves on at --speed 1.
  static constexpr std::chrono::milliseconds kCardTime{2000};
  static constexpr std::chrono::milliseconds kAccountTime{1500};
  static constexpr std::chrono::milliseconds kPinTime{1500};
  static constexpr std::chrono::milliseconds kProcessingTime{1000};
  /// Width of every receipt line.
  static constexpr int kReceiptWidth = 24;

  /// Starts the transaction at its first screen. speed scales the clock (2 = twice as fast);
  /// the terminal plays scenario.terminal.
  SimTransaction(SimTransactionInfo info, SimScenario scenario, double speed, Clock::time_point now);

  /// Moves the screens on up to now; true when the screen changed.
  bool advance(Clock::time_point now);
  /// Applies a press of "B1" or "B2"; true when it changed the screen. A press of a button
  /// that is not shown enabled changes nothing, nor does CANCEL on a late-cancel terminal.
  bool press(const std::string& buttonName, Clock::time_point now);

  /// When the clock moves the screen on next; nullopt when only a press or nothing will.
  std::optional<Clock::time_point> nextChange() const { return _deadline; }
  /// Counts every change of the screen.
  std::uint64_t version() const { return _version; }
  /// The version last sent to the client; a status request is held only while the
  /// screen is still the one the client has.
  std::uint64_t answeredVersion() const { return _answeredVersion; }
  void markAnswered() { _answeredVersion = _version; }
  /// A button request arrived: the client polls next and may have dropped the answer of
  /// the poll it had in flight, so its next status request is answered at once.
  void noteButtonRequest() { _buttonRequestSeen = true; }
  /// True once after noteButtonRequest().
  bool takeButtonRequest() { return std::exchange(_buttonRequestSeen, false); }
  /// The number of the request that arrived now: 0 for the transaction request, then 1, 2 ...
  std::uint64_t takeRequestNumber() { return _requests++; }
  /// A screen with the poll time-out was sent, so the client's time-out is no longer its default.
  void noteTimeOutSent() { _timeOutSent = true; }
  bool timeOutSent() const { return _timeOutSent; }
  bool finished() const { return _step == Step::Done; }
  SimScenario scenario() const { return _scenario; }
  const SimTransactionInfo& info() const { return _info; }

  /// The current screen (meaningful while not finished).
  SimScreen screen() const;
  /// The final result (meaningful once finished).
  const SimResult& result() const { return _result; }

 private:
  enum class Step { Card, Account, Pin, Processing, Signature, Done };
  enum class Outcome { Approved, Declined, Cancelled, SignatureDeclined };

  void enter(Step step, Clock::time_point from);
  void finish(Outcome outcome);
  std::optional<Clock::duration> durationOf(Step step) const;
  Step stepAfter(Step step) const;
  std::string receiptText(bool withSignatureLine, const std::string& outcomeLine) const;

  SimTransactionInfo _info;
  SimScenario _scenario;
  double _speed;
  Step _step = Step::Card;
  std::optional<Clock::time_point> _deadline;
  std::uint64_t _version = 0;
  std::uint64_t _answeredVersion = 0;
  bool _buttonRequestSeen = false;
  std::uint64_t _requests = 0;
  bool _timeOutSent = false;
  std::string _account = "CHQ";
  SimResult _result;
};

}  // namespace kovsim
