#pragma once
#include <KOVModule/KOVExport.h>
#include <KOVModule/KOVJournal.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

/// The engine's journal in an SQLite database file: one row per transaction reference, each
/// save one committed transaction in WAL mode with synchronous=FULL, so a save that returned
/// true survives a crash or a power loss. The file is created readable by its owner only; it
/// holds results and receipts as the host's own records do, never the merchant key.
/// Delivered entries are kept for 30 days and then deleted. Several processes may share
/// one file. Used from one thread at a time.
class KOV_JOURNAL_EXPORT KOVSqliteJournal final : public KOVJournal {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  /// How long a delivered entry is kept.
  static constexpr std::chrono::hours kKeepDelivered{24 * 30};

  /// Opens the journal at path, creating it when there is none; null, and why, when the
  /// file cannot be used as a journal (unreadable, not a database, written by a newer
  /// version, a directory that does not exist ...).
  static std::unique_ptr<KOVSqliteJournal> open(const std::string& path, std::string* why = nullptr);
  /// As open, with the clock that dates entries and ages delivered ones.
  static std::unique_ptr<KOVSqliteJournal> open(const std::string& path, Clock clock, std::string* why);

  ~KOVSqliteJournal() override;
  KOVSqliteJournal(const KOVSqliteJournal&) = delete;
  KOVSqliteJournal& operator=(const KOVSqliteJournal&) = delete;

  bool save(const KOVJournalEntry& entry, std::string* why) override;
  bool find(const std::string& txnRef, std::optional<KOVJournalEntry>& found, std::string* why) override;
  bool unfinished(std::vector<KOVJournalEntry>& entries, std::string* why) override;
  bool forget(const std::string& txnRef, std::string* why) override;

 private:
  struct Private;
  struct Key {
    explicit Key() = default;
  };
  std::unique_ptr<Private> d;

 public:
  /// Made by open() only.
  KOVSqliteJournal(Key, std::unique_ptr<Private> d);
};
