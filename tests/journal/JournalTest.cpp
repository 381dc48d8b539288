// The journal on SQLite: what it refuses to open, what it keeps across openings and for how
// long, and the result record's JSON line it keeps results in.
#include <KOVModule/KOVModuleJournal.h>

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

namespace {

using namespace std::chrono_literals;

std::string scratch(const std::string& name) {
  return testing::TempDir() + "kov-journal-" + std::to_string(::getpid()) + "-" + name;
}

// A file that is not a journal of this version is refused with its reason.
TEST(SqliteJournal, RefusesWhatIsNoJournalOfItsVersion) {
  const std::string text = scratch("text.db"), newer = scratch("newer.db");
  std::ofstream(text) << "not a database, but long enough to hold a header of one\n";
  sqlite3* db = nullptr;
  sqlite3_open(newer.c_str(), &db);
  sqlite3_exec(db, "PRAGMA user_version=2", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  for (const auto& [path, reason] : {std::pair{text, "file is not a database"},
                                     std::pair{newer, "written by a newer version of the library (journal version 2)"}}) {
    std::string why;
    EXPECT_EQ(KOVSqliteJournal::open(path, &why), nullptr);
    EXPECT_EQ(why, path + ": " + reason);
    ::unlink(path.c_str());
  }
}

// The final answer of a purchase as the service's simulator sends it, as its JSON line.
const std::string kResultLine =
    R"({"transactionResult":0,"authCode":"100001","maskedCardNumber":"411111******1111","cardName":"VISA",)"
    R"("expectedSettlementDate":"2026-12-08","expectedSettlementDateTimeZone":"UTC","transactionDate":)"
    R"("2026-12-07 18:03:00","transactionDateTimeZone":"UTC","PIX":"1010","RID":"A000000003",)"
    R"("retrievalRefNumber":"000000000001","qelTxnRef":"SIM000001","responseText":"APPROVED","reCo":"00",)"
    R"("receipt":"KOV SIMULATOR\r\n","receiptLineWidth":24,"response":{"Scr/Complete":"1","Scr/Result/AP":"1"},)"
    R"("cardNumber2":null,"qelBillingId":"DB000001"})";

TEST(ResultJson, ReadsBackWhatItWroteAndNothingElse) {
  const std::optional<KOVTransactionResultDetails> record = KOVResultJson::fromJson(kResultLine);
  ASSERT_TRUE(record);
  EXPECT_EQ(KOVResultJson::toJson(*record), kResultLine);
  EXPECT_EQ(record->cardNumber2, std::nullopt);
  EXPECT_EQ(record->response->at("Scr/Result/AP"), "1");
  for (const char* other : {"", "not json", "{}", "[]", R"({"transactionResult":-1})",
                            R"({"transactionResult":0,"receiptLineWidth":0,"response":[]})"}) {
    EXPECT_FALSE(KOVResultJson::fromJson(other)) << other;
  }
}

TEST(SqliteJournal, KeepsEntriesAcrossOpeningsAndDeliveredOnesForThirtyDays) {
  const std::string path = scratch("kept.db");
  auto now = std::chrono::system_clock::time_point(1'800'000'000s);
  const auto clock = [&now] { return now; };
  KOVJournalEntry sent{"T-SENT", "Purchase", "ST", "12.50", "AUD", "merchant", "M1", now, KOVJournalStageSent, {}, true, {}};
  KOVJournalEntry answered = sent;
  answered.txnRef = "T-ANSWERED";
  answered.txnType = std::nullopt;  // a recovery of a reference the journal did not hold
  answered.startedAt = now - 1s;
  answered.stage = KOVJournalStageAnswered;
  answered.result = KOVResultJson::fromJson(kResultLine);
  KOVJournalEntry delivered = answered;
  delivered.txnRef = "T-DELIVERED";
  delivered.stage = KOVJournalStageDelivered;
  {
    std::string why;
    const auto journal = KOVSqliteJournal::open(path, clock, &why);
    ASSERT_TRUE(journal) << why;
    for (const KOVJournalEntry* entry : {&sent, &answered, &delivered}) ASSERT_TRUE(journal->save(*entry, &why)) << why;
  }
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u) << "results and receipts are the owner's only";

  const auto refs = [](KOVSqliteJournal& journal) {
    std::vector<KOVJournalEntry> entries;
    std::string refs;
    EXPECT_TRUE(journal.unfinished(entries, nullptr));
    for (const KOVJournalEntry& entry : entries) refs += entry.txnRef + " ";
    return refs;
  };
  std::optional<KOVJournalEntry> found;
  now += KOVSqliteJournal::kKeepDelivered - 1s;
  {
    const auto journal = KOVSqliteJournal::open(path, clock, nullptr);
    EXPECT_EQ(refs(*journal), "T-ANSWERED T-SENT ") << "the oldest first";
    ASSERT_TRUE(journal->find("T-ANSWERED", found, nullptr));
    ASSERT_TRUE(found && found->result);
    EXPECT_EQ(KOVResultJson::toJson(*found->result), kResultLine);
    EXPECT_EQ(found->txnType, std::nullopt);
    EXPECT_EQ(found->startedAt, answered.startedAt);
    ASSERT_TRUE(journal->find("T-SENT", found, nullptr));
    EXPECT_EQ(std::tie(found->userName, found->merchantRef), std::tie(sent.userName, sent.merchantRef));
    ASSERT_TRUE(journal->find("T-DELIVERED", found, nullptr));
    EXPECT_TRUE(found);
  }
  now += 2s;
  {
    const auto journal = KOVSqliteJournal::open(path, clock, nullptr);
    ASSERT_TRUE(journal->find("T-DELIVERED", found, nullptr));
    EXPECT_FALSE(found) << "gone after thirty days";
    EXPECT_EQ(refs(*journal), "T-ANSWERED T-SENT ") << "unfinished ones stay";
  }
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

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
    EXPECT_FALSE(journal->save({"T-1", "Purchase", "ST", "1.00", "AUD", "u", {}, {}, stage, {}, true, {}}, &why)) << stage;
    EXPECT_EQ(why, "database is locked");
  }
  sqlite3_close(other);
  std::optional<KOVJournalEntry> found;
  EXPECT_TRUE(journal->find("T-1", found, nullptr) && !found);
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

}  // namespace
