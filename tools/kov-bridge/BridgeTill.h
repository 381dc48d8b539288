#pragma once
// The one place that acts on the engine: one till, one transaction at a time.
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/WqKOV.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BridgeAnswer.h"
#include "BridgeMetrics.h"
#include "BridgeRequest.h"

namespace kovbridge {

/// Who the bridge takes payments as: the page never sees or sends any of it.
struct BridgeIdentity {
  std::string user;
  std::string key;
  std::string station;
};

/// One Server-Sent Event: "screen", "signature" or "result", with its JSON line.
struct BridgeEvent {
  std::string name;
  std::string data;
};

using BridgeEventSink = std::function<void(const BridgeEvent& event)>;

/// What a stream of a transaction's events starts with.
struct BridgeSubscription {
  bool known = false;               ///< false: no such transaction (404)
  std::vector<BridgeEvent> backlog; ///< the screen shown now, or the kept result
  bool ended = false;               ///< the backlog holds the result: nothing follows
  uint64_t id = 0;                  ///< for unsubscribe, while not ended
};

/// The engine of one till, journalled with acknowledged delivery: every result is kept (and
/// replayed to any stream of its transaction) until the page acknowledges it. At start it
/// recovers the journal's unfinished transactions one at a time, and refuses new ones until
/// they have ended. Everything runs on the loop's thread.
class BridgeTill {
 public:
  BridgeTill(std::shared_ptr<KOVPollLoop> loop, std::shared_ptr<KOVJournal> journal, BridgeIdentity identity,
             BridgeMetrics& metrics);
  ~BridgeTill();
  BridgeTill(const BridgeTill&) = delete;
  BridgeTill& operator=(const BridgeTill&) = delete;

  /// The engine, for its endpoint and trust settings before anything runs.
  WqKOV& engine() { return _engine; }

  /// Begins recovering the journal's unfinished transactions; false, and why, when the
  /// journal cannot be read.
  bool recoverJournal(std::string* why);

  BridgeAnswer start(const BridgeStart& start);
  BridgeAnswer press(const std::string& txnRef, const std::string& button);
  BridgeAnswer cancel(const std::string& txnRef);
  BridgeAnswer recover(const std::string& txnRef, const BridgeRecoverBody& body);
  BridgeAnswer acknowledge(const std::string& txnRef);
  /// The journal's unfinished transactions as a JSON array of kov-cli's pending lines.
  BridgeAnswer pending() const;
  /// How many the journal holds unfinished (0 when it cannot be read).
  std::size_t pendingCount() const;

  /// Follows a transaction's events: sink gets those after the backlog, until the result.
  BridgeSubscription subscribe(const std::string& txnRef, BridgeEventSink sink);
  void unsubscribe(uint64_t id);

  /// Ends the running transaction's requests (it stays in the journal, to be recovered).
  void shutdown();

 private:
  // What decides whether a second start of a reference is the same payment.
  struct Fields {
    std::optional<std::string> type;  // wire name
    std::optional<std::string> amount;
    std::optional<std::string> currency;
    bool operator==(const Fields&) const = default;
  };
  struct Running {
    std::string txnRef;
    std::optional<Fields> fields;  // none for a recovery of a reference the journal lacks
    std::optional<KOVTransactionType> type;
    std::optional<std::string> screen;
    std::optional<std::string> button1;
    std::optional<std::string> button2;
    bool fromJournal = false;  // recovered at start
  };
  struct Kept {
    std::string line;
    std::optional<Fields> fields;
  };

  static Fields fieldsOf(const BridgeStart& start);
  static Fields fieldsOf(const KOVJournalEntry& entry);
  std::optional<BridgeAnswer> attachOrRefuse(const std::string& txnRef, const Fields& fields) const;
  void recoverNext();
  // Starts or recovers through begin, with the handlers that keep the till's view of it.
  using Begin =
      std::function<void(StatusChangeHandler, KOVTransactionResultHandler, KOVTransactionSignatureReceiptHandler)>;
  void run(const std::string& txnRef, std::optional<Fields> fields, std::optional<KOVTransactionType> type,
           bool fromJournal, const Begin& begin);
  void emit(const std::string& txnRef, const BridgeEvent& event, bool last);
  bool journalHolds(const std::string& txnRef) const;

  std::shared_ptr<KOVPollLoop> _loop;
  BridgeIdentity _identity;
  BridgeMetrics& _metrics;
  WqKOV _engine;
  std::optional<Running> _running;
  std::map<std::string, Kept> _results;
  std::deque<KOVJournalEntry> _toRecover;
  std::map<uint64_t, std::pair<std::string, BridgeEventSink>> _sinks;
  uint64_t _nextSink = 1;
};

}  // namespace kovbridge
