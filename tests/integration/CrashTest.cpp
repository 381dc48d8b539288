// A till that dies in the middle of a payment, with the journal: one row per point it dies
// at, from before the transaction request leaves to after the result was delivered, and how
// it comes back: it recovers the reference, or simply starts the same purchase again. On
// restart the journal lists exactly what is unfinished, the restart gives the right result
// (from the journal when it had arrived), and the service never sees the transaction request
// twice; a purchase started again after its result was delivered is refused, and a recovery
// the service refuses (a wrong key) leaves the payment pending.
#include <algorithm>
#include <fstream>

#include "Programs.h"

namespace {

using kovit::Program;

constexpr const char* kKey = "jOurnal-s3cret-K3y";

struct Crash {
  const char* name;
  const char* scenario;  // the merchant reference is "sim:" and this
  const char* hook;      // the test host's own point to die at, if any
  const char* killAt;    // else a text of the host's output to kill it at, or "received": once the
                         // service has the transaction request ("": the host ends by itself)
  const char* pending;   // the stage the journal lists it with on restart ("": nothing pending)
  int recovered;         // the restart's result code; -1: refused before anything is sent
  bool recoveryAsks;     // whether the restart asks the service, or hands over the journal's result
  int purchases;         // transaction requests the service received
  const char* restart = "recover";  // or "purchase": the same purchase started again; or "wrong-key"
  const char* said = "";             // what the restart says on stderr, from "kov-cli:" on
};

void PrintTo(const Crash& c, std::ostream* out) { *out << c.name; }

// A simulator with the journal tests' key, a key file and a journal file of the test's own.
class Till : public testing::Test {
 protected:
  Till() {
    std::ofstream(keyFile) << kKey << "\n";
    ::chmod(keyFile.c_str(), 0600);
  }
  ~Till() override {
    for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((journal + suffix).c_str());
    ::unlink(keyFile.c_str());
  }
  std::vector<std::string> purchase(const Crash& row, std::vector<std::string> more = {}) const {
    more.insert(more.begin(), {"--amount", "12.50", "--currency", "AUD", "--merchant-ref",
                               std::string("sim:") + row.scenario});
    return till("purchase", more);
  }
  std::vector<std::string> till(const std::string& command, std::vector<std::string> more = {}) const {
    std::vector<std::string> args{command, "--user", "merchant", "--key-file", keyFile, "--station", "ST-C",
                                  "--txn-ref", "CR-1", "--endpoint", url + "/wqmi3/pos.aspx", "--journal", journal,
                                  "--poll-floor", "0"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string stats() const { return kovit::fetch(url + "/_sim/stats").value_or("-"); }
  // Status and transaction requests the service received for the reference.
  std::string received() const {
    std::smatch counts;
    const std::string all = stats();
    if (!std::regex_search(all, counts, std::regex(R"("CR-1":\{("Purchase":(\d+),)?"Status":(\d+))"))) return "0 0";
    return (counts[2].matched ? counts[2].str() : "0") + " " + counts[3].str();
  }
  std::string pendingLines() const {
    Program pending(KOV_CLI_PATH, {"pending", "--journal", journal});
    EXPECT_EQ(pending.waitFor() ? pending.status : std::nullopt, 0) << Program::text(pending.err);
    return Program::text(pending.out);
  }

  Program sim{KOV_SIMULATOR_PATH, {"--listen", "127.0.0.1:0", "--speed", "20", "--tmo", "1", "--key", kKey}};
  const std::string url = kovit::listening(sim);
  const std::string keyFile = testing::TempDir() + "kov-crash-key-" + std::to_string(::getpid());
  const std::string journal = testing::TempDir() + "kov-crash-journal-" + std::to_string(::getpid()) + ".db";
};

class CrashedTill : public Till, public testing::WithParamInterface<Crash> {};

TEST_P(CrashedTill, KnowsOnRestartWhatToRecoverAndNeverSendsThePaymentTwice) {
  const Crash& row = GetParam();
  {
    std::vector<std::string> args = purchase(row);
    if (*row.hook) args.insert(args.begin(), row.hook);
    Program host(KOV_CRASH_HOST_PATH, args);
    if (std::string(row.killAt) == "received") {
      for (int i = 0; i < 500 && received().rfind("1 ", 0) != 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      ::kill(host.pid, SIGKILL);
    } else if (*row.killAt) {
      ASSERT_TRUE(host.waitFor(row.killAt)) << Program::text(host.err);
      ::kill(host.pid, SIGKILL);
    }
    ASSERT_TRUE(host.waitFor());
    EXPECT_EQ(host.status, *row.hook || *row.killAt ? std::optional(-SIGKILL) : std::optional(0));
  }
  const std::string listed = pendingLines();
  if (*row.pending) {
    EXPECT_TRUE(std::regex_match(listed, std::regex(std::string(R"(\{"txnRef":"CR-1","type":"Purchase","stage":")") +
                                                    row.pending + R"(","station":"ST-C","amount":"12.50","currency":)"
                                                    R"("AUD","user":"merchant","merchantRef":"[^"]*","startedAt":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ",)"
                                                    R"("result":(null|0),"requestSent":true\}\n)")))
        << listed;
  } else {
    EXPECT_EQ(listed, "");
  }
  const std::string before = received();
  std::vector<std::string> args = std::string(row.restart) == "purchase" ? purchase(row, {"--skip-signature"})
                                                                         : till("recover", {"--skip-signature"});
  if (std::string(row.restart) == "wrong-key") {
    *std::find(args.begin(), args.end(), keyFile) = "wrong";
    *std::find(args.begin(), args.end(), "--key-file") = "--key";
  }
  Program recovery(KOV_CLI_PATH, args);
  ASSERT_TRUE(recovery.waitFor());
  EXPECT_EQ(recovery.status, row.recovered < 0 ? 2 : row.recovered == 0 ? 0 : 1);
  const std::string err = Program::text(recovery.err);
  EXPECT_EQ(err.substr(std::min(err.size(), err.find("kov-cli:"))), row.said) << err;
  const std::string result = "{\"transactionResult\":" + std::to_string(row.recovered) + ",";
  EXPECT_TRUE(row.recovered < 0 || Program::text(recovery.out).find(result) != std::string::npos)
      << Program::text(recovery.out);
  EXPECT_EQ(received() != before, row.recoveryAsks) << before << " then " << received();
  EXPECT_EQ(received().substr(0, 1), std::to_string(row.purchases)) << stats();
  EXPECT_EQ(pendingLines(), std::string(row.restart) == "wrong-key" ? listed : "");
}

INSTANTIATE_TEST_SUITE_P(
    DiesAt, CrashedTill,
    testing::Values(
        // The service never had it: it answers that it knows no such transaction.
        Crash{.name = "BeforeTheRequestLeaves", .scenario = "approve", .hook = "--kill-before-send", .killAt = "",
              .pending = "sent", .recovered = 1, .recoveryAsks = true, .purchases = 0},
        // Once it has left, the journal's stage is the same whatever screen the till died at.
        Crash{.name = "AfterItLeftBeforeAnyAnswer", .scenario = "stall-first-1", .hook = "", .killAt = "received",
              .pending = "sent", .recovered = 0, .recoveryAsks = true, .purchases = 1},
        Crash{.name = "AfterTheAnswerBeforeDelivery", .scenario = "approve", .hook = "--kill-before-result",
              .killAt = "", .pending = "answered", .recovered = 0, .recoveryAsks = false, .purchases = 1},
        Crash{.name = "AfterDelivery", .scenario = "approve", .hook = "", .killAt = "", .pending = "", .recovered = 0,
              .recoveryAsks = false, .purchases = 1},
        // The till simply starts the same purchase again: it follows the first to its outcome.
        Crash{.name = "AtAScreenThenStartedAgain", .scenario = "approve", .hook = "", .killAt = "\"state\":2",
              .pending = "sent", .recovered = 0, .recoveryAsks = true, .purchases = 1, .restart = "purchase"},
        Crash{.name = "AfterTheAnswerThenStartedAgain", .scenario = "approve", .hook = "--kill-before-result",
              .killAt = "", .pending = "answered", .recovered = 0, .recoveryAsks = false, .purchases = 1,
              .restart = "purchase"},
        Crash{.name = "AfterDeliveryThenStartedAgain", .scenario = "approve", .hook = "", .killAt = "", .pending = "",
              .recovered = -1, .recoveryAsks = false, .purchases = 1, .restart = "purchase",
              .said = "kov-cli: The txnRef CR-1 is in the journal already, for a payment that ended with result 0, "
                      "APPROVED: a reference is never used for a second payment. (see kov-cli --help)\n"},
        // A till restarted with a wrong key: the service's refusal must not settle the payment.
        Crash{.name = "AtAScreenThenRecoveredWithAWrongKey", .scenario = "approve", .hook = "",
              .killAt = "\"state\":2", .pending = "sent", .recovered = 3, .recoveryAsks = true, .purchases = 1,
              .restart = "wrong-key",
              .said = "kov-cli: The service refused to say how CR-1 ended (result 3, INVALID USER OR KEY): it stays "
                      "to be recovered.\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
