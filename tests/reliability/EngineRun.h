#pragma once
// One transaction of an engine of its own over the Qt transport, with everything it reported
// recorded: screens, debug log, results.
#include <KOVModule/KOVTransactionResultDetails.h>
#include <KOVModule/WqKOV.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kovrel {

/// The merchant key of these tests; its characters need escaping in XML, JSON and URLs.
inline constexpr const char* kTestKey = "k3y&<\"s%2F";

struct Screen {
  KOVState state;
  std::string firstLine, secondLine;
};

/// A purchase of 12.50 AUD with the tests' key, at a station of its own named after txnRef.
std::shared_ptr<KOVTransactionDetails> purchaseDetails(const std::string& txnRef, const std::string& merchantRef = "",
                                                       bool skipSignature = true);

class EngineRun {
 public:
  /// An engine wired to the Qt transport and pointed at url (both endpoints).
  explicit EngineRun(const std::string& url);
  ~EngineRun();

  /// Starts a purchase of 12.50 AUD with debug logging on.
  void start(const std::string& txnRef = "T-1", const std::string& merchantRef = "", bool skipSignature = true);
  /// Runs the event loop until the result came (bounded); true if it did.
  bool waitForResult(int deadlineMs = 20000);
  /// Runs the event loop a while longer, so a second result or a late request would show.
  void settleAfterResult();

  WqKOV& engine() { return *engine_; }
  const std::vector<KOVTransactionResultDetails>& results() const { return results_; }
  const std::vector<Screen>& screens() const { return screens_; }
  const std::vector<std::pair<KOVTransactionLogEntryType, std::string>>& log() const { return log_; }
  /// Entries of one kind.
  std::vector<std::string> logOf(KOVTransactionLogEntryType type) const;
  /// Every text the host was handed: log entries, screen lines, the result's fields.
  std::string everythingReported() const;

 private:
  std::unique_ptr<WqKOV> engine_;
  std::vector<KOVTransactionResultDetails> results_;
  std::vector<Screen> screens_;
  std::vector<std::pair<KOVTransactionLogEntryType, std::string>> log_;
};

/// Where the key appears in text, in any of the forms it could take; empty if nowhere.
std::string findKey(const std::string& text, const std::string& key = kTestKey);

}  // namespace kovrel
