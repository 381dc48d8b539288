// The journal on SQLite: a table of transactions by reference, written through prepared
// statements, each save committed durably before it returns. A file that cannot be written
// (read-only, or on a full disk) is still read, through connections that leave nothing beside
// it; a file deleted or replaced under a running till is noticed before the next write.
#include <KOVModule/KOVResultJson.h>
#include <KOVModule/KOVSqliteJournal.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <iterator>
#include <string_view>
#include <utility>

namespace {

using TimePoint = std::chrono::system_clock::time_point;

// The schema's version, in the database's user_version; a newer one is refused.
constexpr int kSchemaVersion = 2;

// A -shm smaller than its first wal-index page has never been put to use by any connection.
constexpr off_t kShmInUse = 32768;

int64_t millis(TimePoint at) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
}

TimePoint fromMillis(int64_t at) { return TimePoint(std::chrono::milliseconds(at)); }

// An absent value stays NULL: every statement's bindings are cleared after each use.
void bindText(sqlite3_stmt* statement, int index, const std::optional<std::string>& text) {
  if (text) {
    sqlite3_bind_text(statement, index, text->data(), static_cast<int>(text->size()), SQLITE_TRANSIENT);
  }
}

void bindTime(sqlite3_stmt* statement, int index, std::optional<TimePoint> at) {
  if (at) {
    sqlite3_bind_int64(statement, index, millis(*at));
  }
}

std::optional<std::string> columnText(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
    return std::nullopt;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
  return std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(statement, column)));
}

std::optional<TimePoint> columnTime(sqlite3_stmt* statement, int column) {
  if (sqlite3_column_type(statement, column) == SQLITE_NULL) {
    return std::nullopt;
  }
  return fromMillis(sqlite3_column_int64(statement, column));
}

// What a row is written from: the entry, and when it is saved.
struct Row {
  const KOVJournalEntry& entry;
  int64_t savedAt;
};

// A column of the transactions table: its declaration, the schema version that added it, how
// a row binds it and how an entry reads it (none: it is the journal's own, not the entry's).
struct Column {
  const char* name;
  const char* declaration;
  int since;
  void (*bind)(sqlite3_stmt* statement, int index, const Row& row);
  void (*read)(sqlite3_stmt* statement, int column, KOVJournalEntry& entry);
};

// The table, in its order on disk. Every statement and every binding is derived from it: a new
// field is one line here, with the next version, and opening an older file adds its column.
constexpr Column kColumns[] = {
    {"txn_ref", "TEXT PRIMARY KEY NOT NULL", 1,
     [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.txnRef); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.txnRef = columnText(s, i).value_or(""); }},
    {"txn_type", "TEXT", 1, [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.txnType); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.txnType = columnText(s, i); }},
    {"station", "TEXT", 1, [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.stationId); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.stationId = columnText(s, i); }},
    {"amount", "TEXT", 1, [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.amount); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.amount = columnText(s, i); }},
    {"currency", "TEXT", 1, [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.currencyCode); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.currencyCode = columnText(s, i); }},
    {"user_name", "TEXT", 1, [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.userName); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.userName = columnText(s, i); }},
    {"merchant_ref", "TEXT", 1, [](sqlite3_stmt* s, int i, const Row& r) { bindText(s, i, r.entry.merchantRef); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.merchantRef = columnText(s, i); }},
    // ms since 1970, UTC
    {"started_at", "INTEGER NOT NULL", 1,
     [](sqlite3_stmt* s, int i, const Row& r) { sqlite3_bind_int64(s, i, millis(r.entry.startedAt)); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.startedAt = fromMillis(sqlite3_column_int64(s, i)); }},
    // KOVJournalStage
    {"stage", "INTEGER NOT NULL", 1,
     [](sqlite3_stmt* s, int i, const Row& r) { sqlite3_bind_int(s, i, static_cast<int>(r.entry.stage)); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.stage = static_cast<KOVJournalStage>(sqlite3_column_int(s, i)); }},
    // the result record's JSON line
    {"result", "TEXT", 1,
     [](sqlite3_stmt* s, int i, const Row& r) {
       bindText(s, i, r.entry.result ? std::optional(kov::ResultJson::toJson(*r.entry.result)) : std::nullopt);
     },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) {
       if (const std::optional<std::string> result = columnText(s, i)) {
         e.result = kov::ResultJson::fromJson(*result);
       }
     }},
    // when the row was last written: delivered entries age from it
    {"updated_at", "INTEGER NOT NULL", 1, [](sqlite3_stmt* s, int i, const Row& r) { sqlite3_bind_int64(s, i, r.savedAt); },
     nullptr},
    {"request_sent", "INTEGER NOT NULL DEFAULT 1", 2,
     [](sqlite3_stmt* s, int i, const Row& r) { sqlite3_bind_int(s, i, r.entry.requestSent ? 1 : 0); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.requestSent = sqlite3_column_int(s, i) != 0; }},
    // ms since 1970, UTC
    {"acknowledged_at", "INTEGER", 2, [](sqlite3_stmt* s, int i, const Row& r) { bindTime(s, i, r.entry.acknowledgedAt); },
     [](sqlite3_stmt* s, int i, KOVJournalEntry& e) { e.acknowledgedAt = columnTime(s, i); }},
};

constexpr int kColumnCount = static_cast<int>(std::size(kColumns));

constexpr int columnIndex(std::string_view name) {
  for (int i = 0; i < kColumnCount; ++i) {
    if (kColumns[i].name == name) {
      return i;
    }
  }
  return -1;
}

constexpr bool versionsInOrder() {
  for (int i = 1; i < kColumnCount; ++i) {
    if (kColumns[i].since < kColumns[i - 1].since || kColumns[i].since > kSchemaVersion) {
      return false;
    }
  }
  return true;
}
static_assert(versionsInOrder(), "columns are appended, each with a version up to the current one");
static_assert(columnIndex("txn_ref") == 0 && columnIndex("stage") >= 0);

constexpr int kStageColumn = columnIndex("stage");

// How many of the table's columns a file of the version has: a prefix, as columns are appended.
int columnsOf(int version) {
  int count = 0;
  while (count < kColumnCount && kColumns[count].since <= version) {
    ++count;
  }
  return count;
}

std::string columnList(int version) {
  std::string list;
  for (int i = 0; i < columnsOf(version); ++i) {
    list += (i ? ", " : "") + std::string(kColumns[i].name);
  }
  return list;
}

std::string selectSql(int version, const char* condition) {
  return "SELECT " + columnList(version) + " FROM transactions " + condition;
}

std::string createSql() {
  std::string sql = "CREATE TABLE transactions (";
  for (int i = 0; i < kColumnCount; ++i) {
    sql += (i ? ", " : "") + std::string(kColumns[i].name) + " " + kColumns[i].declaration;
  }
  return sql + "); CREATE INDEX transactions_by_stage ON transactions (stage, updated_at);";
}

// Brings a file of the version to the current one (inside the caller's transaction).
std::string migrateSql(int version) {
  std::string sql;
  for (int i = columnsOf(version); i < kColumnCount; ++i) {
    sql += std::string("ALTER TABLE transactions ADD COLUMN ") + kColumns[i].name + " " + kColumns[i].declaration + ";";
  }
  return sql + "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
}

// Parameter i+1 is column i: the row writes every column, and a row already there is
// overwritten with it.
std::string upsertSql() {
  std::string values, updates;
  for (int i = 0; i < kColumnCount; ++i) {
    values += (i ? ", ?" : "?") + std::to_string(i + 1);
    if (i) {
      updates += (i > 1 ? ", " : "") + std::string(kColumns[i].name) + " = excluded." + kColumns[i].name;
    }
  }
  return "INSERT INTO transactions (" + columnList(kSchemaVersion) + ") VALUES (" + values +
         ") ON CONFLICT (txn_ref) DO UPDATE SET " + updates;
}

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

struct DatabaseDeleter {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using Database = std::unique_ptr<sqlite3, DatabaseDeleter>;

struct ValueDeleter {
  void operator()(sqlite3_value* value) const { sqlite3_value_free(value); }
};
// A row as the file holds it, every column's value, copied out of its statement.
using RawRow = std::vector<std::unique_ptr<sqlite3_value, ValueDeleter>>;

void setWhy(std::string* why, std::string text) {
  if (why) {
    *why = std::move(text);
  }
}

// Which file a path names.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileId&) const = default;
};

std::optional<FileId> fileAt(const std::string& path, off_t* size = nullptr) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    return std::nullopt;
  }
  if (size) {
    *size = info.st_size;
  }
  return FileId{info.st_dev, info.st_ino};
}

bool exists(const std::string& path) { return fileAt(path).has_value(); }

bool isFull(sqlite3* db, int status) {
  const int primary = status & 0xff;
  return primary == SQLITE_FULL || status == SQLITE_IOERR_SHMSIZE ||
         (db && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN) && sqlite3_system_errno(db) == ENOSPC);
}

// The reason a step failed, in the words the journal's callers show: a full disk and a
// read-only file system by name, anything else as SQLite says it.
std::string describe(sqlite3* db, int status) {
  if (isFull(db, status)) {
    return "disk full";
  }
  const int primary = status & 0xff;
  if (db && (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY) &&
      sqlite3_system_errno(db) == EROFS) {
    return "read-only file system";
  }
  return db ? sqlite3_errmsg(db) : sqlite3_errstr(status);
}

std::string describeSystem(int error) {
  switch (error) {
    case EROFS:
      return "read-only file system";
    case ENOSPC:
      return "disk full";
    default:
      return std::strerror(error);
  }
}

int exec(sqlite3* db, const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }

int prepare(sqlite3* db, const std::string& sql, Statement& statement) {
  sqlite3_stmt* prepared = nullptr;
  const int status = sqlite3_prepare_v3(db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
  statement.reset(prepared);
  return status;
}

// Runs a statement that returns no rows; its bindings are cleared for the next use.
int run(sqlite3_stmt* statement) {
  const int status = sqlite3_step(statement);
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return status == SQLITE_DONE ? SQLITE_OK : status;
}

// Runs a statement whose first row's first column is a number or a text.
int single(sqlite3* db, const char* sql, int* number, std::string* text = nullptr) {
  Statement statement;
  int status = prepare(db, sql, statement);
  if (status == SQLITE_OK && (status = sqlite3_step(statement.get())) == SQLITE_ROW) {
    if (number) {
      *number = sqlite3_column_int(statement.get(), 0);
    }
    if (text) {
      *text = columnText(statement.get(), 0).value_or("");
    }
    return SQLITE_OK;
  }
  return status == SQLITE_DONE ? SQLITE_ERROR : status;
}

// Reads the rows of a statement into entries of a file of the version; the statement's
// status when a step fails.
int readEntries(sqlite3_stmt* statement, int version, std::vector<KOVJournalEntry>& entries) {
  const int columns = columnsOf(version);
  int status = SQLITE_ROW;
  while ((status = sqlite3_step(statement)) == SQLITE_ROW) {
    KOVJournalEntry entry;
    for (int i = 0; i < columns; ++i) {
      if (kColumns[i].read) {
        kColumns[i].read(statement, i, entry);
      }
    }
    entries.push_back(std::move(entry));
  }
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  return status == SQLITE_DONE ? SQLITE_OK : status;
}

// Removes a -wal or -shm beside path that an opening just created and that no connection has
// put to use: a -shm never grown to its first page, and an empty -wal without a -shm in use.
void removeUnused(const std::string& path, bool walExisted, bool shmExisted) {
  off_t size = 0;
  bool shmInUse = false;
  if (fileAt(path + "-shm", &size)) {
    shmInUse = size >= kShmInUse;
    if (!shmExisted && !shmInUse) {
      ::unlink((path + "-shm").c_str());
    }
  }
  if (!walExisted && !shmInUse && fileAt(path + "-wal", &size) && size == 0) {
    ::unlink((path + "-wal").c_str());
  }
}

// The URI of a connection to path: SQLite takes '%', '?' and '#' in it as its own.
std::string uriOf(const std::string& path, const char* query) {
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (const char c : path) {
    switch (c) {
      case '%':
        uri += "%25";
        break;
      case '?':
        uri += "%3F";
        break;
      case '#':
        uri += "%23";
        break;
      default:
        uri += c;
    }
  }
  return uri + query;
}

// Reads the journal at path through a connection opened for the call, one that leaves nothing
// beside the file: without a -wal the file is all there is and is read as it is; with a -shm
// the log is read through it, as a live or crashed writer left it; a -wal alone needs a -shm
// made for it, by a normal connection, which removes both when it is done. read gets the
// connection and the file's version; false and why when the file cannot be read.
bool readFile(const std::string& path, const std::function<int(sqlite3*, int)>& read, std::string& why) {
  const bool wal = exists(path + "-wal"), shm = exists(path + "-shm");
  std::string uri;
  int flags = SQLITE_OPEN_URI | SQLITE_OPEN_READONLY;
  if (!wal) {
    // Never with a -wal: it would hide the entries only the log holds.
    uri = uriOf(path, "?mode=ro&immutable=1");
  } else if (shm) {
    uri = uriOf(path, "?mode=ro");
  } else {
    struct statvfs system {};
    if (::statvfs(path.c_str(), &system) == 0 && (system.f_flag & ST_RDONLY)) {
      why = "the entries in the journal's -wal file cannot be read on a read-only file system without its -shm file";
      return false;
    }
    uri = uriOf(path, "");
    flags = SQLITE_OPEN_URI | SQLITE_OPEN_READWRITE;
  }
  int status = SQLITE_OK;
  {
    sqlite3* opened = nullptr;
    status = sqlite3_open_v2(uri.c_str(), &opened, flags, nullptr);
    const Database db(opened);
    int version = 0;
    if (status == SQLITE_OK) {
      sqlite3_extended_result_codes(opened, 1);
      sqlite3_busy_timeout(opened, 5000);
      status = single(opened, "PRAGMA user_version", &version);
    }
    if (status != SQLITE_OK) {
      why = describe(opened, status);
    } else if (version > kSchemaVersion) {
      why = "written by a newer version of the library (journal version " + std::to_string(version) + ")";
      status = SQLITE_ERROR;
    } else if (version > 0 && (status = read(opened, version)) != SQLITE_OK) {
      // A file no journal was ever written into holds no entries.
      why = describe(opened, status);
    }
  }
  removeUnused(path, wal, shm);
  return status == SQLITE_OK;
}

}  // namespace

struct KOVSqliteJournal::Private {
  // The file open for writing: its connection, its statements, and which files it was opened
  // on (its -wal and -shm included), to notice one deleted or replaced under it.
  struct Writer {
    Database db;
    Statement upsert, purge, selectOne, selectUnfinished, selectAll, remove;
    std::optional<FileId> file, wal, shm;
  };
  enum class Opening { Writable, ForReading, Refused };

  std::string path;
  Clock clock;
  std::optional<Writer> writer;  // none: the journal only reads, and writing fails with readingOnly
  std::string readingOnly;
  std::vector<std::string> notices;

  static bool purgeDelivered(Writer& w, int64_t now) {
    sqlite3_bind_int(w.purge.get(), 1, KOVJournalStageDelivered);
    sqlite3_bind_int64(w.purge.get(), 2, now - std::chrono::duration_cast<std::chrono::milliseconds>(kKeepDelivered).count());
    return run(w.purge.get()) == SQLITE_OK;
  }

  // Opens the file at path as a journal to write, creating it (for its owner only) or bringing
  // it to this version when needed, in one committed transaction. ForReading, why the reason,
  // when it can be read but not written (a read-only file or file system, a full disk);
  // Refused, why "PATH: reason", when it is no journal this library can use.
  static Opening openWriter(const std::string& path, int64_t now, Writer& w, std::string& why) {
    bool created = true;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno == EEXIST) {
      created = false;
      fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    }
    if (fd < 0) {
      const int error = errno;
      const int readable = (error == EROFS || error == EACCES || error == EPERM) ? ::open(path.c_str(), O_RDONLY | O_CLOEXEC) : -1;
      if (readable >= 0) {
        ::close(readable);
        why = describeSystem(error);
        return Opening::ForReading;
      }
      why = path + ": " + std::strerror(error);
      return Opening::Refused;
    }
    ::close(fd);
    const bool walExisted = exists(path + "-wal"), shmExisted = exists(path + "-shm");
    sqlite3* opened = nullptr;
    int status = sqlite3_open_v2(uriOf(path, "").c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_URI, nullptr);
    w.db.reset(opened);
    int version = 0;
    std::string mode;
    if (status == SQLITE_OK) {
      sqlite3_extended_result_codes(opened, 1);
      // Another process of the same till may hold the write lock for a moment.
      sqlite3_busy_timeout(opened, 5000);
      status = single(opened, "PRAGMA user_version", &version);
    }
    if (status == SQLITE_OK) {
      status = single(opened, "PRAGMA journal_mode", nullptr, &mode);
    }
    const auto giveUp = [&](int failed, std::string reason) {
      const bool full = isFull(w.db.get(), failed);
      w = Writer{};
      removeUnused(path, walExisted, shmExisted);
      if (created) {
        // What could not become a journal is not left behind as an empty file.
        off_t size = 0;
        if (fileAt(path, &size) && size == 0) {
          ::unlink(path.c_str());
          removeUnused(path, false, false);
        }
      }
      if (full && !created) {
        why = std::move(reason);
        return Opening::ForReading;
      }
      why = path + ": " + reason;
      return Opening::Refused;
    };
    if (status != SQLITE_OK) {
      return giveUp(status, describe(opened, status));
    }
    if (version > kSchemaVersion) {
      return giveUp(SQLITE_ERROR, "written by a newer version of the library (journal version " + std::to_string(version) + ")");
    }
    // Nothing is written to a journal that is already at this version.
    if (mode != "wal") {
      if ((status = single(opened, "PRAGMA journal_mode=WAL", nullptr, &mode)) != SQLITE_OK) {
        return giveUp(status, describe(opened, status));
      }
      if (mode != "wal") {
        return giveUp(SQLITE_ERROR, "the journal cannot use write-ahead logging here");
      }
    }
    if (version < kSchemaVersion) {
      // Another process may have brought it up meanwhile: the version counts once locked.
      int count = 0;
      std::string refusal;
      if ((status = exec(opened, "BEGIN IMMEDIATE")) == SQLITE_OK &&
          (status = single(opened, "PRAGMA user_version", &version)) == SQLITE_OK &&
          (status = single(opened, "SELECT count(*) FROM sqlite_schema", &count)) == SQLITE_OK) {
        if (version > kSchemaVersion) {
          refusal = "written by a newer version of the library (journal version " + std::to_string(version) + ")";
        } else if (version == 0 && count > 0) {
          refusal = "not a journal (the database holds other tables)";
        } else if (version < kSchemaVersion) {
          status = exec(opened, version == 0 ? createSql() + migrateSql(kSchemaVersion) : migrateSql(version));
        }
      }
      if (status == SQLITE_OK && refusal.empty()) {
        status = exec(opened, "COMMIT");
      }
      if (status != SQLITE_OK || !refusal.empty()) {
        std::string reason = refusal.empty() ? describe(opened, status) : refusal;
        exec(opened, "ROLLBACK");
        return giveUp(status, std::move(reason));
      }
    }
    const std::string all = selectSql(kSchemaVersion, "");
    if ((status = exec(opened, "PRAGMA synchronous=FULL")) != SQLITE_OK ||
        (status = prepare(opened, upsertSql(), w.upsert)) != SQLITE_OK ||
        (status = prepare(opened, "DELETE FROM transactions WHERE stage = ?1 AND updated_at < ?2", w.purge)) != SQLITE_OK ||
        (status = prepare(opened, all + "WHERE txn_ref = ?1", w.selectOne)) != SQLITE_OK ||
        (status = prepare(opened, all + "WHERE stage <> ?1 ORDER BY started_at, txn_ref", w.selectUnfinished)) != SQLITE_OK ||
        (status = prepare(opened, all, w.selectAll)) != SQLITE_OK ||
        (status = prepare(opened, "DELETE FROM transactions WHERE txn_ref = ?1", w.remove)) != SQLITE_OK) {
      return giveUp(status, describe(opened, status));
    }
    // On a full disk the old entries wait for the next save that can be written.
    purgeDelivered(w, now);
    w.file = fileAt(path);
    w.wal = fileAt(path + "-wal");
    w.shm = fileAt(path + "-shm");
    return Opening::Writable;
  }

  // The entries the condition selects (its ?1 bound by bind), from the file open for writing,
  // or through a connection opened for the call.
  bool query(Statement Writer::*prepared, const char* condition, const std::function<void(sqlite3_stmt*)>& bind,
             std::vector<KOVJournalEntry>& entries, std::string* why) {
    std::string reason;
    if (writer) {
      sqlite3_stmt* statement = ((*writer).*prepared).get();
      bind(statement);
      const int status = readEntries(statement, kSchemaVersion, entries);
      if (status == SQLITE_OK) {
        return true;
      }
      reason = describe(writer->db.get(), status);
    } else if (readFile(path,
                        [&](sqlite3* db, int version) {
                          Statement statement;
                          int status = prepare(db, selectSql(version, condition), statement);
                          if (status == SQLITE_OK) {
                            bind(statement.get());
                            status = readEntries(statement.get(), version, entries);
                          }
                          return status;
                        },
                        reason)) {
      return true;
    }
    setWhy(why, std::move(reason));
    return false;
  }

  // Makes sure that what is written lands in the file the path names. When it names another
  // file, or none, every row this journal holds is written into that file (created when there
  // is none), which the journal then keeps writing; the host hears of it through a notice.
  bool follow(std::string& why) {
    if (!writer) {
      why = readingOnly;
      return false;
    }
    struct stat info {};
    const bool found = ::stat(path.c_str(), &info) == 0;
    if (found && writer->file == FileId{info.st_dev, info.st_ino}) {
      return true;
    }
    if (!found && errno != ENOENT) {
      why = path + ": " + std::strerror(errno);
      return false;
    }
    std::vector<RawRow> rows;
    int unfinished = 0, delivered = 0;
    sqlite3_stmt* all = writer->selectAll.get();
    int status = SQLITE_ROW;
    while ((status = sqlite3_step(all)) == SQLITE_ROW) {
      RawRow& row = rows.emplace_back();
      for (int i = 0; i < kColumnCount; ++i) {
        row.emplace_back(sqlite3_value_dup(sqlite3_column_value(all, i)));
      }
      ++(sqlite3_column_int(all, kStageColumn) == KOVJournalStageDelivered ? delivered : unfinished);
    }
    sqlite3_reset(all);
    if (status != SQLITE_DONE) {
      why = describe(writer->db.get(), status);
      return false;
    }
    // The old file's -wal and -shm, still under the path, would be taken for the new file's.
    for (const auto& [suffix, id] : {std::pair{"-wal", writer->wal}, std::pair{"-shm", writer->shm}}) {
      if (id && fileAt(path + suffix) == id) {
        ::unlink((path + suffix).c_str());
      }
    }
    Writer next;
    if (openWriter(path, millis(clock()), next, why) != Opening::Writable) {
      return false;
    }
    sqlite3* db = next.db.get();
    status = exec(db, "BEGIN IMMEDIATE");
    for (std::size_t r = 0; r < rows.size() && status == SQLITE_OK; ++r) {
      for (int i = 0; i < kColumnCount; ++i) {
        sqlite3_bind_value(next.upsert.get(), i + 1, rows[r][static_cast<std::size_t>(i)].get());
      }
      status = run(next.upsert.get());
    }
    if (status == SQLITE_OK) {
      status = exec(db, "COMMIT");
    }
    if (status != SQLITE_OK) {
      why = describe(db, status);
      exec(db, "ROLLBACK");
      return false;
    }
    // Closing the old file's connection leaves what now stands under its names alone: SQLite
    // neither checkpoints nor removes the logs of a file that has moved.
    writer.reset();
    writer = std::move(next);
    const std::string counts =
        std::to_string(unfinished) + " unfinished and " + std::to_string(delivered) + " delivered entries were written into ";
    notices.push_back("The journal file " + path +
                      (found ? " was replaced while in use: its " + counts + "the file now at the path."
                           : " was deleted while in use: its " + counts + "a new file at the same path."));
    return true;
  }
};

KOVSqliteJournal::KOVSqliteJournal(Key, std::unique_ptr<Private> p) : d(std::move(p)) {}

KOVSqliteJournal::~KOVSqliteJournal() = default;

std::unique_ptr<KOVSqliteJournal> KOVSqliteJournal::open(const std::string& path, std::string* why) {
  return open(path, [] { return std::chrono::system_clock::now(); }, why);
}

std::unique_ptr<KOVSqliteJournal> KOVSqliteJournal::open(const std::string& path, Clock clock, std::string* why) {
  auto p = std::make_unique<Private>();
  p->path = path;
  p->clock = std::move(clock);
  Private::Writer writer;
  std::string reason;
  switch (Private::openWriter(path, millis(p->clock()), writer, reason)) {
    case Private::Opening::Writable:
      p->writer = std::move(writer);
      break;
    case Private::Opening::Refused:
      setWhy(why, std::move(reason));
      return nullptr;
    case Private::Opening::ForReading:
      // Listing still works where nothing can be written, if the file is a journal.
      return forReading(std::move(p), std::move(reason), why);
  }
  return std::make_unique<KOVSqliteJournal>(Key{}, std::move(p));
}

std::unique_ptr<KOVSqliteJournal> KOVSqliteJournal::openForReading(const std::string& path, std::string* why) {
  auto p = std::make_unique<Private>();
  p->path = path;
  p->clock = [] { return std::chrono::system_clock::now(); };
  return forReading(std::move(p), "the journal is open for reading only", why);
}

std::unique_ptr<KOVSqliteJournal> KOVSqliteJournal::forReading(std::unique_ptr<Private> p, std::string reason,
                                                               std::string* why) {
  bool journal = false;
  std::string failure;
  if (!readFile(
          p->path, [&journal](sqlite3*, int) { return journal = true, SQLITE_OK; }, failure) ||
      !journal) {
    setWhy(why, p->path + ": " + (failure.empty() ? reason : failure));
    return nullptr;
  }
  p->readingOnly = std::move(reason);
  return std::make_unique<KOVSqliteJournal>(Key{}, std::move(p));
}

bool KOVSqliteJournal::save(const KOVJournalEntry& entry, std::string* why) {
  std::string reason;
  if (!d->follow(reason)) {
    setWhy(why, std::move(reason));
    return false;
  }
  Private::Writer& w = *d->writer;
  const int64_t now = millis(d->clock());
  sqlite3_stmt* upsert = w.upsert.get();
  for (int i = 0; i < kColumnCount; ++i) {
    kColumns[i].bind(upsert, i + 1, Row{entry, now});
  }
  int status = SQLITE_OK;
  if (entry.stage != KOVJournalStageDelivered) {
    status = run(upsert);
  } else if ((status = exec(w.db.get(), "BEGIN IMMEDIATE")) != SQLITE_OK || (status = run(upsert)) != SQLITE_OK ||
             !Private::purgeDelivered(w, now) || (status = exec(w.db.get(), "COMMIT")) != SQLITE_OK) {
    // A delivered entry ages the old ones out in the same commit: one sync per save.
    if (status == SQLITE_OK) {
      status = sqlite3_extended_errcode(w.db.get());
    }
    setWhy(why, describe(w.db.get(), status));
    sqlite3_reset(upsert);
    sqlite3_clear_bindings(upsert);
    exec(w.db.get(), "ROLLBACK");
    return false;
  }
  if (status != SQLITE_OK) {
    setWhy(why, describe(w.db.get(), status));
    return false;
  }
  return true;
}

bool KOVSqliteJournal::find(const std::string& txnRef, std::optional<KOVJournalEntry>& found, std::string* why) {
  std::vector<KOVJournalEntry> entries;
  if (!d->query(
          &Private::Writer::selectOne, "WHERE txn_ref = ?1",
          [&txnRef](sqlite3_stmt* s) { sqlite3_bind_text(s, 1, txnRef.data(), static_cast<int>(txnRef.size()), SQLITE_TRANSIENT); },
          entries, why)) {
    return false;
  }
  found = entries.empty() ? std::nullopt : std::optional(std::move(entries.front()));
  return true;
}

bool KOVSqliteJournal::unfinished(std::vector<KOVJournalEntry>& entries, std::string* why) {
  return d->query(
      &Private::Writer::selectUnfinished, "WHERE stage <> ?1 ORDER BY started_at, txn_ref",
      [](sqlite3_stmt* s) { sqlite3_bind_int(s, 1, KOVJournalStageDelivered); }, entries, why);
}

bool KOVSqliteJournal::forget(const std::string& txnRef, std::string* why) {
  std::string reason;
  if (!d->follow(reason)) {
    setWhy(why, std::move(reason));
    return false;
  }
  sqlite3_stmt* remove = d->writer->remove.get();
  sqlite3_bind_text(remove, 1, txnRef.data(), static_cast<int>(txnRef.size()), SQLITE_TRANSIENT);
  if (const int status = run(remove); status != SQLITE_OK) {
    setWhy(why, describe(d->writer->db.get(), status));
    return false;
  }
  return true;
}

std::vector<std::string> KOVSqliteJournal::takeNotices() { return std::exchange(d->notices, {}); }
