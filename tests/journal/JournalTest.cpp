// The journal on SQLite: what it refuses to open, what it keeps across openings and for how
// long, older files brought up to date, a file deleted or replaced under it, and the result
// record's JSON line it keeps results in. (Listing where nothing can be written is the
// integration test journal-unwritable.sh.)
#include <KOVModule/KOVModuleJournal.h>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

namespace {

using namespace std::chrono_literals;

const auto kNow = std::chrono::system_clock::time_point(1'800'000'000s);

std::string scratch(const std::string& name) {
  return testing::TempDir() + "kov-journal-" + std::to_string(::getpid()) + "-" + name;
}

void removeJournal(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

KOVJournalEntry entry(const std::string& txnRef, KOVJournalStage stage, const std::string& amount = "1.00") {
  return {.txnRef = txnRef,
          .txnType = "Purchase",
          .stationId = "ST",
          .amount = amount,
          .currencyCode = "AUD",
          .userName = "merchant",
          .merchantRef = std::nullopt,
          .startedAt = kNow,
          .stage = stage,
          .result = std::nullopt,
          .requestSent = true,
          .acknowledgedAt = std::nullopt};
}

// The references of the unfinished entries, the oldest first.
std::string unfinishedRefs(KOVJournal& journal) {
  std::vector<KOVJournalEntry> entries;
  std::string why, refs;
  EXPECT_TRUE(journal.unfinished(entries, &why)) << why;
  for (const KOVJournalEntry& each : entries) refs += each.txnRef + " ";
  return refs;
}

int userVersion(const std::string& path) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* statement = nullptr;
  sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &statement, nullptr);
  const int version = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int(statement, 0) : -1;
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return version;
}

void runSql(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

// A journal as the released 0.3 wrote it (schema version 1), holding one payment to recover.
void writeVersionOne(const std::string& path) {
  runSql(path,
         "PRAGMA journal_mode=WAL;"
         "CREATE TABLE IF NOT EXISTS transactions ("
         " txn_ref TEXT PRIMARY KEY NOT NULL,"
         " txn_type TEXT, station TEXT, amount TEXT, currency TEXT, user_name TEXT, merchant_ref TEXT,"
         " started_at INTEGER NOT NULL, stage INTEGER NOT NULL, result TEXT, updated_at INTEGER NOT NULL);"
         "CREATE INDEX IF NOT EXISTS transactions_by_stage ON transactions (stage, updated_at);"
         "PRAGMA user_version=1;"
         "INSERT INTO transactions VALUES ('T-V1', 'Refund', 'ST', '7.00', 'AUD', 'merchant', NULL,"
         " 1799999000000, 0, NULL, 1799999000000);");
}

template <typename Case>
std::string caseName(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

template <typename Case>
  requires requires(const Case& c) { c.name; }
void PrintTo(const Case& c, std::ostream* out) {
  *out << c.name;
}

// A file that is no journal this version can use is refused with its reason.
struct RefusalCase {
  const char* name;
  std::function<void(const std::string& path)> make;
  const char* reason;
};

class Refusal : public testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, OpeningFailsWithTheReason) {
  const std::string path = scratch("refused.db");
  GetParam().make(path);
  std::string why;
  EXPECT_EQ(KOVSqliteJournal::open(path, &why), nullptr);
  EXPECT_EQ(why, path + ": " + GetParam().reason);
  removeJournal(path);
}

INSTANTIATE_TEST_SUITE_P(
    SqliteJournal, Refusal,
    testing::Values(
        RefusalCase{"Text", [](const std::string& path) { std::ofstream(path) << "not a database, but long enough to hold a header of one\n"; },
                    "file is not a database"},
        RefusalCase{"NewerVersion",
                    [](const std::string& path) {
                      writeVersionOne(path);
                      runSql(path, "PRAGMA user_version=3");
                    },
                    "written by a newer version of the library (journal version 3)"},
        RefusalCase{"DatabaseOfSomethingElse", [](const std::string& path) { runSql(path, "CREATE TABLE sales (id INTEGER)"); },
                    "not a journal (the database holds other tables)"}),
    caseName<RefusalCase>);

// The final answer of a purchase as the service's simulator sends it, as its JSON line.
const std::string kResultLine =
    R"({"transactionResult":0,"authCode":"100001","maskedCardNumber":"411111******1111","cardName":"VISA",)"
    R"("expectedSettlementDate":"2026-12-08","expectedSettlementDateTimeZone":"UTC","transactionDate":)"
    R"("2026-12-07 18:03:00","transactionDateTimeZone":"UTC","PIX":"1010","RID":"A000000003",)"
    R"("retrievalRefNumber":"000000000001","qelTxnRef":"SIM000001","responseText":"APPROVED","reCo":"00",)"
    R"("receipt":"KOV SIMULATOR\r\n","receiptLineWidth":24,"response":{"Scr/Complete":"1","Scr/Result/AP":"1"},)"
    R"("cardNumber2":null,"qelBillingId":"DB000001"})";

// What it wrote reads back as written (a kept result below, and the record tests' lines).
TEST(ResultJson, ReadsNothingElse) {
  for (const char* other : {"", "not json", "{}", "[]", R"({"transactionResult":-1})",
                            R"({"transactionResult":0,"receiptLineWidth":0,"response":[]})",
                            R"({"transactionResult":0,"receiptLineWidth":0,"response":null,"authCode":1})"}) {
    EXPECT_FALSE(kov::ResultJson::fromJson(other)) << other;
  }
}

// The same life in a new file and in one the released 0.3 wrote, which is brought up to date
// in place with its entry kept.
struct KeepingCase {
  const char* name;
  bool versionOne;
  const char* held;  // the unfinished entries the file held before
};

class Keeping : public testing::TestWithParam<KeepingCase> {};

TEST_P(Keeping, EntriesAcrossOpeningsDeliveredOnesForThirtyDaysUntilForgotten) {
  const std::string path = scratch("kept.db");
  if (GetParam().versionOne) writeVersionOne(path);
  auto now = kNow;
  const auto clock = [&now] { return now; };
  KOVJournalEntry sent = entry("T-SENT", KOVJournalStageSent, "12.50");
  sent.merchantRef = "M1";
  sent.requestSent = false;
  KOVJournalEntry answered = sent;
  answered.txnRef = "T-ANSWERED";
  answered.txnType = std::nullopt;  // a recovery of a reference the journal did not hold
  answered.startedAt = now - 1s;
  answered.stage = KOVJournalStageAnswered;
  answered.result = kov::ResultJson::fromJson(kResultLine);
  answered.requestSent = true;
  KOVJournalEntry delivered = answered;
  delivered.txnRef = "T-DELIVERED";
  delivered.stage = KOVJournalStageDelivered;
  delivered.acknowledgedAt = now - 250ms;
  {
    std::string why;
    const auto journal = KOVSqliteJournal::open(path, clock, &why);
    ASSERT_TRUE(journal) << why;
    for (const KOVJournalEntry* each : {&sent, &answered, &delivered}) ASSERT_TRUE(journal->save(*each, &why)) << why;
  }
  EXPECT_EQ(userVersion(path), 2);
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  if (!GetParam().versionOne) {
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "results and receipts are the owner's only";
  }

  const std::string held = GetParam().held;
  std::optional<KOVJournalEntry> found;
  now += KOVSqliteJournal::kKeepDelivered - 1s;
  const auto contents = [&path] { return (std::ostringstream() << std::ifstream(path).rdbuf()).str(); };
  const std::string written = contents();
  {
    const auto journal = KOVSqliteJournal::open(path, clock, nullptr);
    ASSERT_TRUE(journal);
    EXPECT_EQ(unfinishedRefs(*journal), held + "T-ANSWERED T-SENT ") << "the oldest first";
    ASSERT_TRUE(journal->find("T-ANSWERED", found, nullptr));
    ASSERT_TRUE(found && found->result);
    EXPECT_EQ(kov::ResultJson::toJson(*found->result), kResultLine);
    EXPECT_EQ(found->txnType, std::nullopt);
    EXPECT_EQ(found->startedAt, answered.startedAt);
    EXPECT_TRUE(found->requestSent);
    ASSERT_TRUE(journal->find("T-SENT", found, nullptr));
    EXPECT_EQ(std::tie(found->userName, found->merchantRef), std::tie(sent.userName, sent.merchantRef));
    EXPECT_FALSE(found->requestSent);
    EXPECT_EQ(found->acknowledgedAt, std::nullopt);
    ASSERT_TRUE(journal->find("T-DELIVERED", found, nullptr));
    ASSERT_TRUE(found);
    EXPECT_EQ(found->acknowledgedAt, delivered.acknowledgedAt);
    if (GetParam().versionOne) {
      ASSERT_TRUE(journal->find("T-V1", found, nullptr));
      ASSERT_TRUE(found);
      EXPECT_EQ(found->txnType, "Refund");
      EXPECT_EQ(found->amount, "7.00");
      EXPECT_TRUE(found->requestSent) << "whether it left is not known";
      EXPECT_EQ(found->acknowledgedAt, std::nullopt);
    }
  }
  EXPECT_EQ(contents(), written) << "opening a journal of this version and reading it writes nothing";
  now += 2s;
  {
    const auto journal = KOVSqliteJournal::open(path, clock, nullptr);
    ASSERT_TRUE(journal->find("T-DELIVERED", found, nullptr));
    EXPECT_FALSE(found) << "gone after thirty days";
    EXPECT_EQ(unfinishedRefs(*journal), held + "T-ANSWERED T-SENT ") << "unfinished ones stay";
    std::string why;
    for (const char* txnRef : {"T-SENT", "T-NEVER-HELD"}) EXPECT_TRUE(journal->forget(txnRef, &why)) << txnRef << ": " << why;
  }
  const auto journal = KOVSqliteJournal::open(path, clock, nullptr);
  EXPECT_EQ(unfinishedRefs(*journal), held + "T-ANSWERED ") << "forgotten for good";
  removeJournal(path);
}

INSTANTIATE_TEST_SUITE_P(SqliteJournal, Keeping,
                         testing::Values(KeepingCase{.name = "NewFile", .versionOne = false, .held = ""},
                                         KeepingCase{.name = "VersionOneFile", .versionOne = true, .held = "T-V1 "}),
                         caseName<KeepingCase>);

// A save that cannot be committed says why, and the entry is not taken as kept: here another
// writer holds the file past the journal's busy wait of 5 s.
TEST(SqliteJournal, SaveThatCannotBeCommittedFailsWithTheReason) {
  const std::string path = scratch("locked.db");
  const auto journal = KOVSqliteJournal::open(path, nullptr);
  ASSERT_TRUE(journal);
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  // A delivered entry is saved with the purge of old ones, in the same commit.
  for (const KOVJournalStage stage : {KOVJournalStageSent, KOVJournalStageDelivered}) {
    std::string why;
    EXPECT_FALSE(journal->save(entry("T-1", stage), &why)) << stage;
    EXPECT_EQ(why, "database is locked");
  }
  sqlite3_close(other);
  std::optional<KOVJournalEntry> found;
  EXPECT_TRUE(journal->find("T-1", found, nullptr) && !found);
  removeJournal(path);
}

// A file deleted or replaced under a running till: what the journal held is written into the
// file now at the path before the next write lands there, and the host hears of it once.
struct FollowingCase {
  const char* name;
  std::function<void(const std::string& path)> change;
  bool forget;         // the next write forgets T-A rather than saving T-NEW
  const char* notice;  // after the path, "" for none
  const char* why;     // after the path, of a write that fails; "" when it succeeds
  const char* after;   // what the file at the path holds afterwards
};

class Following : public testing::TestWithParam<FollowingCase> {};

// The other journal that replaces the file: it holds T-A too, in another state.
void replaceWithJournal(const std::string& path) {
  const std::string other = path + ".other";
  {
    const auto journal = KOVSqliteJournal::open(other, nullptr);
    ASSERT_TRUE(journal);
    ASSERT_TRUE(journal->save(entry("T-A", KOVJournalStageAnswered, "9.99"), nullptr));
    ASSERT_TRUE(journal->save(entry("T-OTHER", KOVJournalStageSent, "3.00"), nullptr));
  }
  ASSERT_EQ(::rename(other.c_str(), path.c_str()), 0);
}

TEST_P(Following, TheFileNowAtThePath) {
  const FollowingCase& c = GetParam();
  const std::string path = scratch("followed.db");
  const auto journal = KOVSqliteJournal::open(path, nullptr);
  ASSERT_TRUE(journal);
  for (const KOVJournalEntry& each : {entry("T-A", KOVJournalStageSent), entry("T-B", KOVJournalStageDelivered)}) {
    ASSERT_TRUE(journal->save(each, nullptr));
  }
  c.change(path);
  std::string why;
  EXPECT_EQ(c.forget ? journal->forget("T-A", &why) : journal->save(entry("T-NEW", KOVJournalStageSent), &why), !*c.why);
  EXPECT_EQ(why, *c.why ? path + c.why : "");
  const std::vector<std::string> notices = journal->takeNotices();
  EXPECT_EQ(notices, *c.notice ? std::vector{"The journal file " + path + c.notice} : std::vector<std::string>{});
  EXPECT_EQ(journal->takeNotices(), std::vector<std::string>{}) << "handed over once";
  if (!*c.why) {
    ASSERT_TRUE(journal->save(entry("T-LATER", KOVJournalStageSent), &why)) << why;
    EXPECT_EQ(journal->takeNotices(), std::vector<std::string>{}) << "the file is the journal's now";
    for (const char* suffix : {"-wal", "-shm"}) {
      EXPECT_TRUE(std::ifstream(path + suffix).good()) << suffix << ": other processes find the log where they look for it";
    }
  }
  std::string held;
  if (const auto reopened = KOVSqliteJournal::open(path, nullptr)) {
    for (const char* txnRef : {"T-A", "T-B", "T-OTHER", "T-NEW", "T-LATER"}) {
      std::optional<KOVJournalEntry> found;
      ASSERT_TRUE(reopened->find(txnRef, found, nullptr));
      if (found) held += found->txnRef + " " + kov::journalStageName(found->stage) + " " + *found->amount + "; ";
    }
  }
  EXPECT_EQ(held, c.after);
  removeJournal(path);
}

INSTANTIATE_TEST_SUITE_P(
    SqliteJournal, Following,
    testing::Values(
        FollowingCase{.name = "Deleted", .change = [](const std::string& path) { ::unlink(path.c_str()); },
                      .forget = false,
                      .notice = " was deleted while in use: its 1 unfinished and 1 delivered entries were written "
                                "into a new file at the same path.",
                      .why = "", .after = "T-A sent 1.00; T-B delivered 1.00; T-NEW sent 1.00; T-LATER sent 1.00; "},
        FollowingCase{.name = "DeletedWithItsLog", .change = removeJournal, .forget = true,
                      .notice = " was deleted while in use: its 1 unfinished and 1 delivered entries were written "
                                "into a new file at the same path.",
                      .why = "", .after = "T-B delivered 1.00; T-LATER sent 1.00; "},
        // The journal's own T-A wins over the other file's.
        FollowingCase{.name = "ReplacedByAnotherJournal", .change = replaceWithJournal, .forget = false,
                      .notice = " was replaced while in use: its 1 unfinished and 1 delivered entries were written "
                                "into the file now at the path.",
                      .why = "",
                      .after = "T-A sent 1.00; T-B delivered 1.00; T-OTHER sent 3.00; T-NEW sent 1.00; T-LATER sent "
                               "1.00; "},
        FollowingCase{.name = "ReplacedByWhatIsNoJournal",
                      .change =
                          [](const std::string& path) {
                            std::ofstream(path + ".text") << "not a database, but long enough to hold a header of "
                                                             "one\n";
                            ASSERT_EQ(::rename((path + ".text").c_str(), path.c_str()), 0);
                          },
                      .forget = false, .notice = "", .why = ": file is not a database", .after = ""}),
    caseName<FollowingCase>);

}  // namespace
