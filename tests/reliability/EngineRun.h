#pragma once
// One transaction of the engine over the transport KOVQtTransport installs, with everything it
// reported recorded.
#include <KOVModule/KOVTransactionResultDetails.h>
#include <KOVModule/WqKOV.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kovrel {

/// The merchant key of these tests; its characters need escaping in XML, JSON and URLs.
inline constexpr const char* kTestKey = "k3y&<\"s%2F";

/// Runs the Qt event loop until done() holds or the deadline passes; true if done() held.
bool waitUntil(const std::function<bool()>& done, int deadlineMs);
/// Runs the Qt event loop for a while, so a late request or a second result would show.
void settle(int ms);

class EngineRun {
 public:
  /// Starts a purchase of 12.50 AUD with debug logging on, through WqKOV::get() over the Qt
  /// transport, at url, on a station named after txnRef; the signature is answered for the host.
  EngineRun(const std::string& url, const std::string& txnRef, const std::string& merchantRef,
            const std::string& key = kTestKey);

  bool waitForResult(int deadlineMs);
  const std::vector<KOVTransactionResultDetails>& results() const { return _record->results; }
  /// Each screen as "LINE1|LINE2".
  const std::vector<std::string>& screens() const { return _record->screens; }
  const std::vector<std::pair<KOVTransactionLogEntryType, std::string>>& log() const { return _record->log; }
  /// Entries of one kind.
  std::vector<std::string> logOf(KOVTransactionLogEntryType type) const;
  /// Every text the host was handed: log entries, screen lines, the result's fields.
  std::string everythingReported() const;

 private:
  // Shared with the engine's handlers, which may outlive a failed test.
  struct Record {
    std::vector<KOVTransactionResultDetails> results;
    std::vector<std::string> screens;
    std::vector<std::pair<KOVTransactionLogEntryType, std::string>> log;
  };
  std::shared_ptr<Record> _record = std::make_shared<Record>();
};

/// True when text holds the key in any form: raw, escaped for XML, JSON or a URL, or cut short.
bool holdsKey(const std::string& text);

}  // namespace kovrel
