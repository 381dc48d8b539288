// kov-cli against kov-simulator, both run as programs on loopback: the options, exit statuses
// and output texts that scripts and a host's CI depend on.
#include <algorithm>
#include <cstring>

#include "Programs.h"

namespace {

using kovit::fetch;
using kovit::listening;
using kovit::Program;

// A purchase with more options: its exit status, a pattern of the whole stdout, a text in stderr
// and a pattern of the simulator's counts afterwards. The key comes from a key file. Its stdout
// may be a full device ("full"), a pipe whose reader has left ("gone", as in "kov-cli ... |
// true"), or closed ("closed").
struct Row {
  const char* name;
  std::vector<std::string> more;
  int status;
  std::string out, err, counts;
  std::string stdoutTo = "";
};

// A simulator, and a key file of the test's own.
class KovCliFixture : public testing::Test {
 protected:
  KovCliFixture() {
    const int fd = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    EXPECT_EQ(::write(fd, "s3cret\nnot the key\n", 20), 20);
    ::close(fd);
  }
  ~KovCliFixture() override { ::unlink(keyFile.c_str()); }
  // A purchase with the options given, and the fixture's for the others.
  std::vector<std::string> purchase(std::vector<std::string> more) const {
    std::vector<std::string> args{"purchase"};
    for (const auto& [name, value] : {std::pair{"--key-file", keyFile}, {"--user", "merchant"}, {"--station", "ST"},
                                      {"--txn-ref", "IT-1"}, {"--amount", "12.50"}, {"--currency", "AUD"},
                                      {"--endpoint", url + "/wqmi3/pos.aspx"}}) {
      if (std::find(more.begin(), more.end(), name) == more.end()) args.insert(args.end(), {name, value});
    }
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string stats() const { return fetch(url + "/_sim/stats").value_or("-"); }

  Program sim{KOV_SIMULATOR_PATH, {"--listen", "127.0.0.1:0", "--speed", "20", "--hold-ms", "300"}};
  const std::string url = listening(sim);
  const std::string keyFile = testing::TempDir() + "kov-key-" + std::to_string(::getpid());
};

class KovCli : public KovCliFixture, public testing::WithParamInterface<Row> {};

TEST_P(KovCli, RunsOneTransaction) {
  const auto& [name, more, status, out, err, counts, stdoutTo] = GetParam();
  int to = stdoutTo == "full" ? ::open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
  if (stdoutTo == "closed") to = Program::kClosed;
  if (stdoutTo == "gone") {
    int pipe[2];
    ASSERT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    ::close(pipe[0]);
    to = pipe[1];
  }
  Program cli(KOV_CLI_PATH, purchase(more), to);
  EXPECT_EQ(cli.waitFor() ? cli.status : std::nullopt, status);
  if (to >= 0) ::close(to);
  // A pattern ending in "..." is a text the output starts with (a long text would take the
  // regex engine's stack).
  const std::string text = Program::text(cli.out);
  if (out.ends_with("...")) {
    EXPECT_TRUE(text.starts_with(out.substr(0, out.size() - 3))) << text;
  } else {
    EXPECT_TRUE(std::regex_match(text, std::regex(out))) << text;
  }
  EXPECT_NE(Program::text(cli.err).find(err), std::string::npos) << Program::text(cli.err);
  EXPECT_TRUE(std::regex_match(stats(), std::regex(counts))) << stats();
}

// The simulator's counts (JSON as documented): nothing sent, or the transaction on one connection.
const char* const kNothingSent = R"(\{"connections":1,"requests":0,"transactions":\{\}\})";
const char* const kOneConnection =
    R"(\{"connections":2,"requests":\d+,"transactions":\{"IT-1":\{"Purchase":1,"Status":\d+,"UI":0\}\}\})";

// Refused before anything is sent, and the usage error in one line.
Row usage(const char* name, std::vector<std::string> more, const std::string& message) {
  return {name, more, 2, "", "kov-cli: " + message + " (see kov-cli --help)\n", kNothingSent};
}

INSTANTIATE_TEST_SUITE_P(Rows, KovCli, testing::Values(
    // The record's line field by field is the result JSON's own test.
    Row{.name = "Approved", .more = {"--debug"}, .status = 0,
        .out = R"(\{"transactionResult":0,"authCode":"100001",.*"responseText":"APPROVED","reCo":"00",.*\}\n)",
        .err = "\n{\"state\":1,\"firstLine\":\"PRESENT/INSERT CARD\",\"secondLine\":\"PURCHASE       AUD 12.50\","
               "\"button1\":\"CANCEL\",\"button2\":null,\"receipt\":null}\n",
        .counts = kOneConnection},
    // Why, without --debug: nothing left, so nothing can have been charged. Nine failures,
    // retried at once.
    Row{.name = "NothingLeft",
        .more = {"--endpoint", "http://127.0.0.1:1/wqmi3/pos.aspx", "--retry-spacing", "0", "--poll-floor", "0"},
        .status = 1,
        .out = R"(\{"transactionResult":10,("[a-zA-Z]+":null,){14}"receiptLineWidth":0,("[a-zA-Z2]+":null,){3})"
               R"("reason":"connection refused by 127.0.0.1:1","requestSent":false\}\n)",
        .err = "kov-cli: no answer from the service: connection refused by 127.0.0.1:1; the transaction request never "
               "left: nothing was charged\n",
        .counts = kNothingSent},
    // A signature the operator never answers: at the deadline the time-out result, to recover.
    Row{.name = "SignatureNeverAnswered", .more = {"--merchant-ref", "sim:signature", "--deadline", "1"}, .status = 1,
        .out = R"re(\{"transactionResult":10,.*"reason":"no final answer within 1 s \(the terminal was asked to )re"
               R"re(cancel\)","requestSent":true\}\n)re",
        .err = "kov-cli: no answer from the service: no final answer within 1 s (the terminal was asked to cancel); "
               "the payment may have reached it: recover IT-1\n",
        .counts = kOneConnection},
    // The engine's refusal of the record, and the program's own, are usage errors alike.
    usage("ThirdDecimal", {"--amount", "12.509"},
          "The amount 12.509 has more than two decimals: it would be sent as 12.50."),
    usage("UnreadableCaFile", {"--ca-file", "no.pem"},
          "--ca-file no.pem: cannot read no.pem: No such file or directory"),
    usage("JournalInAFolderThatIsNot", {"--journal", "/nonexistent/journal.db"},
          "--journal /nonexistent/journal.db: No such file or directory"),
    Row{.name = "Help", .more = {"--help"}, .status = 0,
        .out = "usage: kov-cli <purchase|auth|complete|refund|void|recover> [options]\n...", .err = "",
        .counts = R"(\{"connections":1,.*)"},
    // A result that cannot reach stdout never leaves with an approval's exit status; without
    // stdout nothing is sent at all.
    Row{.name = "StdoutFull", .more = {}, .status = 3, .out = "",
        .err = "}\nkov-cli: the result could not be written to standard output: No space left on device\n",
        .counts = kOneConnection, .stdoutTo = "full"},
    Row{.name = "StdoutGone", .more = {}, .status = 3, .out = "",
        .err = "}\nkov-cli: the result could not be written to standard output: Broken pipe\n",
        .counts = kOneConnection, .stdoutTo = "gone"},
    Row{.name = "StdoutClosed", .more = {}, .status = 3, .out = "",
        .err = "kov-cli: standard output is closed: the result would be lost, so nothing is sent\n",
        .counts = kNothingSent, .stdoutTo = "closed"}),
    [](const auto& info) { return std::string(info.param.name); });

// The operator's presses: a cancel line or the first Ctrl-C presses the terminal's CANCEL, a
// button's name on a line (an unknown one ignored) that button; the result is what the service
// then says, an approval that came too late included.
struct PressRow {
  const char* name;
  const char* scenario;
  const char* shown;  // what the screen shows when the operator acts
  const char* input;  // what the operator types; nullptr: Ctrl-C
  int status;
  const char* reCo;
};

class KovCliPress : public KovCliFixture, public testing::WithParamInterface<PressRow> {};

TEST_P(KovCliPress, ReachesTheTerminalAndReportsTheServicesResult) {
  const auto& [name, scenario, shown, input, status, reCo] = GetParam();
  Program cli(KOV_CLI_PATH, purchase({"--merchant-ref", scenario}));
  ASSERT_TRUE(cli.waitFor(shown)) << Program::text(cli.err);
  if (input) {
    EXPECT_EQ(::write(cli.input, input, std::strlen(input)), ssize_t(std::strlen(input)));
  } else {
    ::kill(cli.pid, SIGINT);
  }
  EXPECT_EQ(cli.waitFor() ? cli.status : std::nullopt, status);
  EXPECT_NE(Program::text(cli.out).find(std::string("\"reCo\":\"") + reCo + "\""), std::string::npos)
      << Program::text(cli.out);
  EXPECT_EQ(Program::text(cli.err).find("cancel asked at the terminal") != std::string::npos, !input);
  EXPECT_TRUE(std::regex_search(stats(), std::regex(R"("UI":[1-9])"))) << stats();
}

INSTANTIATE_TEST_SUITE_P(
    Ways, KovCliPress,
    testing::Values(
        PressRow{"CancelLine", "sim:approve", "{\"state\":1,", "cancel\n", 1, "TC"},
        PressRow{"CtrlC", "sim:approve", "{\"state\":1,", nullptr, 1, "TC"},
        PressRow{"CancelLineTooLate", "sim:late-cancel", "{\"state\":1,", "cancel\n", 0, "00"},
        PressRow{"SignatureRefused", "sim:signature",
                 "{\"signatureReceipt\":\"KOV SIMULATOR           \\r\\nSTATION ST", "B9\n B2 \r\n", 1, "S2"}),
    [](const auto& info) { return std::string(info.param.name); });

// forget, the operator's way out: it names what it removed, and refuses what is not there.
TEST_F(KovCliFixture, ForgetRemovesAnEntryAndSaysWhatItWas) {
  const std::string journal = testing::TempDir() + "kov-programs-journal-" + std::to_string(::getpid()) + ".db";
  Program paid(KOV_CLI_PATH, purchase({"--journal", journal}));
  EXPECT_EQ(paid.waitFor() ? paid.status : std::nullopt, 0);
  for (const auto& [status, err] :
       {std::pair{0, "kov-cli: KOV journal: IT-1 forgotten at the operator's request; it was delivered with result 0, "
                     "APPROVED.\n"},
        std::pair{2, "kov-cli: The txnRef IT-1 is not in the journal. (see kov-cli --help)\n"}}) {
    Program forget(KOV_CLI_PATH, {"forget", "--journal", journal, "--txn-ref", "IT-1"});
    EXPECT_EQ(forget.waitFor() ? forget.status : std::nullopt, status);
    EXPECT_EQ(Program::text(forget.err), err);
  }
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((journal + suffix).c_str());
}

TEST(SimulatorProgram, LogsEachRequestWithoutTheKeyRefusesBadUsageAndStopsOnSignals) {
  const std::string body = "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T</TxnRef>"
                           "<Station>S</Station><TxnType>Purchase</TxnType></Scr>";
  for (const int stop : {SIGTERM, SIGINT}) {
    Program sim(KOV_SIMULATOR_PATH, {"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(fetch(listening(sim) + "/wqmi3/pos.aspx", body));
    ::kill(sim.pid, stop);
    EXPECT_EQ(sim.waitFor() ? sim.status : std::nullopt, 0);
    EXPECT_EQ(Program::text(sim.err), "kov-simulator: POST Purchase TxnRef=T -> 200 started (approve), screen \"PRESENT/"
              "INSERT CARD\" | " + std::regex_replace(body, std::regex("s3cret"), "......") + "\n");
  }
  Program usage(KOV_SIMULATOR_PATH, {"--tmo", "0"});
  EXPECT_EQ(usage.waitFor() ? usage.status : std::nullopt, 2);
  EXPECT_EQ(Program::text(usage.err), "kov-simulator: --tmo wants whole seconds from 1 to 3600, not \"0\"\n");
}

}  // namespace
