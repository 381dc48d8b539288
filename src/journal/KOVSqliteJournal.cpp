// The journal on SQLite: a table of transactions by reference, written through prepared
// statements, each save committed durably before it returns.
#include <KOVModule/KOVResultJson.h>
#include <KOVModule/KOVSqliteJournal.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

namespace {

// The schema's version, in the database's user_version; a newer one is refused.
constexpr int kSchemaVersion = 1;

constexpr const char* kSchema =
    "CREATE TABLE IF NOT EXISTS transactions ("
    " txn_ref TEXT PRIMARY KEY NOT NULL,"
    " txn_type TEXT, station TEXT, amount TEXT, currency TEXT, user_name TEXT, merchant_ref TEXT,"
    " started_at INTEGER NOT NULL,"  // ms since 1970, UTC
    " stage INTEGER NOT NULL,"       // KOVJournalStage
    " result TEXT,"                  // the result record's JSON line
    " updated_at INTEGER NOT NULL);"
    "CREATE INDEX IF NOT EXISTS transactions_by_stage ON transactions (stage, updated_at);";

constexpr const char* kColumns =
    "txn_ref, txn_type, station, amount, currency, user_name, merchant_ref, started_at, stage, result";

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct DatabaseDeleter {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

int64_t millis(std::chrono::system_clock::time_point at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

// An absent text stays NULL: every statement's bindings are cleared after each use.
void bindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text) {
  if (text) {
    sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  }
}

std::optional<std::string> columnText(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
    return std::nullopt;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

void setWhy(std::string* why, std::string text) {
  if (why) {
    *why = std::move(text);
  }
}

}  // namespace

struct KOVSqliteJournal::Private {
  std::unique_ptr<sqlite3, DatabaseDeleter> db;
  Clock clock;
  Statement upsert, purge, select, selectUnfinished, remove;

  std::string error() const { return sqlite3_errmsg(db.get()); }

  Statement prepare(const std::string& sql) const {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v3(db.get(), sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    return Statement(statement);
  }

  bool exec(const char* sql) const { return sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

  // Runs a statement that returns no rows; its bindings are cleared for the next use.
  bool run(sqlite3_stmt* statement) const {
    const int status = sqlite3_step(statement);
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return status == SQLITE_DONE;
  }

  KOVJournalEntry entryAt(sqlite3_stmt* statement) const {
    KOVJournalEntry entry;
    entry.txnRef = columnText(statement, 0).value_or("");
    entry.txnType = columnText(statement, 1);
    entry.stationId = columnText(statement, 2);
    entry.amount = columnText(statement, 3);
    entry.currencyCode = columnText(statement, 4);
    entry.userName = columnText(statement, 5);
    entry.merchantRef = columnText(statement, 6);
    entry.startedAt = std::chrono::system_clock::time_point(std::chrono::milliseconds(sqlite3_column_int64(statement, 7)));
    entry.stage = static_cast<KOVJournalStage>(sqlite3_column_int(statement, 8));
    if (const std::optional<std::string> result = columnText(statement, 9)) {
      entry.result = KOVResultJson::fromJson(*result);
    }
    return entry;
  }

  // Deletes the delivered entries older than the keeping time.
  bool purgeDelivered(int64_t now) const {
    sqlite3_bind_int(purge.get(), 1, KOVJournalStageDelivered);
    sqlite3_bind_int64(purge.get(), 2, now - std::chrono::duration_cast<std::chrono::milliseconds>(kKeepDelivered).count());
    return run(purge.get());
  }

  // Reads every row the statement gives; false when a step fails.
  bool readAll(sqlite3_stmt* statement, std::vector<KOVJournalEntry>& entries) const {
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
      entries.push_back(entryAt(statement));
    }
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    return status == SQLITE_DONE;
  }
};

KOVSqliteJournal::KOVSqliteJournal(Key, std::unique_ptr<Private> p) : d(std::move(p)) {}

KOVSqliteJournal::~KOVSqliteJournal() = default;

std::unique_ptr<KOVSqliteJournal> KOVSqliteJournal::open(const std::string& path, std::string* why) {
  return open(path, [] { return std::chrono::system_clock::now(); }, why);
}

std::unique_ptr<KOVSqliteJournal> KOVSqliteJournal::open(const std::string& path, Clock clock, std::string* why) {
  // Created by us, for the owner only: results and receipts are the host's records.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    setWhy(why, path + ": " + std::strerror(errno));
    return nullptr;
  }
  ::close(fd);
  auto p = std::make_unique<Private>();
  p->clock = std::move(clock);
  sqlite3* db = nullptr;
  const int status = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  p->db.reset(db);
  if (status != SQLITE_OK) {
    setWhy(why, path + ": " + (db ? p->error() : std::string(sqlite3_errstr(status))));
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  // Another process of the same till may hold the write lock for a moment.
  sqlite3_busy_timeout(db, 5000);
  Statement mode = p->prepare("PRAGMA journal_mode=WAL");
  Statement version;
  if (!mode || sqlite3_step(mode.get()) != SQLITE_ROW || !(version = p->prepare("PRAGMA user_version")) ||
      sqlite3_step(version.get()) != SQLITE_ROW) {
    setWhy(why, path + ": " + p->error());
    return nullptr;
  }
  if (std::strcmp(reinterpret_cast<const char*>(sqlite3_column_text(mode.get(), 0)), "wal") != 0) {
    setWhy(why, path + ": the journal cannot use write-ahead logging here");
    return nullptr;
  }
  const int found = sqlite3_column_int(version.get(), 0);
  mode.reset();
  version.reset();
  if (found > kSchemaVersion) {
    setWhy(why, path + ": written by a newer version of the library (journal version " + std::to_string(found) + ")");
    return nullptr;
  }
  const std::string select = std::string("SELECT ") + kColumns + " FROM transactions";
  if (!p->exec("PRAGMA synchronous=FULL") || !p->exec(kSchema) ||
      !p->exec(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str()) ||
      !(p->upsert = p->prepare(std::string("INSERT INTO transactions (") + kColumns +
                               ", updated_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11) "
                               "ON CONFLICT (txn_ref) DO UPDATE SET txn_type = ?2, station = ?3, amount = ?4, "
                               "currency = ?5, user_name = ?6, merchant_ref = ?7, started_at = ?8, stage = ?9, "
                               "result = ?10, updated_at = ?11")) ||
      !(p->purge = p->prepare("DELETE FROM transactions WHERE stage = ?1 AND updated_at < ?2")) ||
      !(p->select = p->prepare(select + " WHERE txn_ref = ?1")) ||
      !(p->remove = p->prepare("DELETE FROM transactions WHERE txn_ref = ?1")) ||
      !(p->selectUnfinished = p->prepare(select + " WHERE stage <> ?1 ORDER BY started_at, txn_ref"))) {
    setWhy(why, path + ": " + p->error());
    return nullptr;
  }
  p->purgeDelivered(millis(p->clock()));
  return std::make_unique<KOVSqliteJournal>(Key{}, std::move(p));
}

bool KOVSqliteJournal::save(const KOVJournalEntry& entry, std::string* why) {
  const int64_t now = millis(d->clock());
  sqlite3_stmt* upsert = d->upsert.get();
  bindText(upsert, 1, entry.txnRef);
  bindText(upsert, 2, entry.txnType);
  bindText(upsert, 3, entry.stationId);
  bindText(upsert, 4, entry.amount);
  bindText(upsert, 5, entry.currencyCode);
  bindText(upsert, 6, entry.userName);
  bindText(upsert, 7, entry.merchantRef);
  sqlite3_bind_int64(upsert, 8, millis(entry.startedAt));
  sqlite3_bind_int(upsert, 9, static_cast<int>(entry.stage));
  bindText(upsert, 10, entry.result ? std::optional(KOVResultJson::toJson(*entry.result)) : std::nullopt);
  sqlite3_bind_int64(upsert, 11, now);
  if (entry.stage != KOVJournalStageDelivered) {
    if (!d->run(upsert)) {
      setWhy(why, d->error());
      return false;
    }
    return true;
  }
  // A delivered entry ages the old ones out in the same commit: one sync per save.
  if (d->exec("BEGIN IMMEDIATE") && d->run(upsert) && d->purgeDelivered(now) && d->exec("COMMIT")) {
    return true;
  }
  setWhy(why, d->error());
  sqlite3_reset(upsert);
  sqlite3_clear_bindings(upsert);
  d->exec("ROLLBACK");
  return false;
}

bool KOVSqliteJournal::find(const std::string& txnRef, std::optional<KOVJournalEntry>& found, std::string* why) {
  sqlite3_bind_text(d->select.get(), 1, txnRef.data(), static_cast<int>(txnRef.size()), SQLITE_TRANSIENT);
  std::vector<KOVJournalEntry> entries;
  if (!d->readAll(d->select.get(), entries)) {
    setWhy(why, d->error());
    return false;
  }
  found = entries.empty() ? std::nullopt : std::optional(std::move(entries.front()));
  return true;
}

bool KOVSqliteJournal::unfinished(std::vector<KOVJournalEntry>& entries, std::string* why) {
  sqlite3_bind_int(d->selectUnfinished.get(), 1, KOVJournalStageDelivered);
  if (!d->readAll(d->selectUnfinished.get(), entries)) {
    setWhy(why, d->error());
    return false;
  }
  return true;
}

bool KOVSqliteJournal::forget(const std::string& txnRef, std::string* why) {
  sqlite3_bind_text(d->remove.get(), 1, txnRef.data(), static_cast<int>(txnRef.size()), SQLITE_TRANSIENT);
  if (!d->run(d->remove.get())) {
    setWhy(why, d->error());
    return false;
  }
  return true;
}
