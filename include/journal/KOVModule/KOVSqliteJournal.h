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
///
/// A journal written by an older version of the library is brought to this one in place when
/// opened, its entries kept. Opening a journal already at this version writes nothing to it
/// but the deletion of delivered entries past their time. Before each save and forget the
/// journal checks that its path still names the file it opened: when that file was deleted or
/// replaced, every entry it holds is written into the file now at the path (created when there
/// is none; the journal's entry wins over one with the same reference), the journal goes on in
/// that file, and takeNotices() says so.
///
/// A journal that can be read but not written (a read-only file or file system, a full disk)
/// still opens, for listing: find() and unfinished() read it without leaving any file beside
/// it, and save() and forget() fail with the reason ("read-only file system", "disk full", or
/// the system's text). A full disk is reported as "disk full" whenever a write fails for it.
class KOV_JOURNAL_EXPORT KOVSqliteJournal final : public KOVJournal {
 public:
  using Clock = std::function<std::chrono::system_clock::time_point()>;

  /// How long a delivered entry is kept.
  static constexpr std::chrono::hours kKeepDelivered{24 * 30};

  /// Opens the journal at path, creating it when there is none and bringing an older one to
  /// this version; only for reading when it cannot be written. Null, and why ("PATH: reason"),
  /// when the file cannot be used as a journal (unreadable, not a database or a database of
  /// something else, written by a newer version, a directory that does not exist ...).
  static std::unique_ptr<KOVSqliteJournal> open(const std::string& path, std::string* why = nullptr);
  /// As open, with the clock that dates entries and ages delivered ones.
  static std::unique_ptr<KOVSqliteJournal> open(const std::string& path, Clock clock, std::string* why);
  /// Opens the journal at path to list it: nothing is ever written to it, nor beside it, also
  /// after a crash left entries only in its -wal; saves fail. Null, and why, when it is missing
  /// or no journal.
  static std::unique_ptr<KOVSqliteJournal> openForReading(const std::string& path, std::string* why = nullptr);

  ~KOVSqliteJournal() override;
  KOVSqliteJournal(const KOVSqliteJournal&) = delete;
  KOVSqliteJournal& operator=(const KOVSqliteJournal&) = delete;

  bool save(const KOVJournalEntry& entry, std::string* why) override;
  bool find(const std::string& txnRef, std::optional<KOVJournalEntry>& found, std::string* why) override;
  bool unfinished(std::vector<KOVJournalEntry>& entries, std::string* why) override;
  bool forget(const std::string& txnRef, std::string* why) override;
  /// The notices of files deleted or replaced under the journal since the last call.
  std::vector<std::string> takeNotices() override;

 private:
  struct Private;
  static std::unique_ptr<KOVSqliteJournal> forReading(std::unique_ptr<Private> p, std::string reason,
                                                      std::string* why);
  struct Key {
    explicit Key() = default;
  };
  std::unique_ptr<Private> d;

 public:
  /// Made by open() only.
  KOVSqliteJournal(Key, std::unique_ptr<Private> d);
};
