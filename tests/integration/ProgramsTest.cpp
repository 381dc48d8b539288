// kov-cli against kov-simulator, both run as programs on loopback: the options, exit statuses
// and output texts that scripts and a host's CI depend on.
#include <gtest/gtest.h>
#include <httplib.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <regex>
#include <thread>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A program whose output goes to files in memory; killed if it outlives its test.
class Program {
 public:
  Program(const char* path, std::vector<std::string> args) {
    int input[2] = {-1, -1};
    EXPECT_EQ(::pipe2(input, O_CLOEXEC), 0);
    input_ = input[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_, 1);
    posix_spawn_file_actions_adddup2(&actions, err_, 2);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid_, path, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;
  ~Program() {
    if (!status_ && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    for (const int fd : {input_, out_, err_}) ::close(fd);
  }
  std::string out() const { return text(out_); }
  std::string err() const { return text(err_); }
  void write(const std::string& text) { EXPECT_EQ(::write(input_, text.data(), text.size()), ssize_t(text.size())); }
  void signal(int number) { ::kill(pid_, number); }
  // Waits at most a minute for the text in its stdout or stderr; false once it ended without.
  bool waitFor(const std::string& needle) {
    for (const auto until = Clock::now() + std::chrono::minutes(1); Clock::now() < until && !ended();) {
      if ((out() + err()).find(needle) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return (out() + err()).find(needle) != std::string::npos;
  }
  // The exit status (128 + the signal when one ended it); nullopt while it runs after a minute.
  std::optional<int> exitStatus() {
    waitFor("\x01");
    return status_;
  }

 private:
  static std::string text(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, off_t(all.size()))) > 0;) all.append(buffer, std::size_t(n));
    return all;
  }
  bool ended() {
    int status = 0;
    if (!status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    return status_.has_value();
  }

  int out_ = ::memfd_create("stdout", MFD_CLOEXEC);
  int err_ = ::memfd_create("stderr", MFD_CLOEXEC);
  int input_ = -1;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// The URL of a simulator from its start line.
std::string listening(Program& sim) {
  EXPECT_TRUE(sim.waitFor("\n"));
  std::smatch url;
  const std::string line = sim.out();
  EXPECT_TRUE(std::regex_match(line, url, std::regex("kov-simulator listening on (http://127\\.0\\.0\\.1:[0-9]+)/wqmi3/pos\\.aspx\n")));
  return url[1];
}

const std::string kSimulatorStats = "/_sim/stats";

struct Row {
  const char* name;
  std::vector<std::string> more;  // after a purchase's options
  int status;
  std::string out;    // a pattern the whole stdout matches
  std::string err;    // a text in stderr
  std::string stats;  // a pattern the simulator's counts match afterwards
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

class KovCli : public testing::TestWithParam<Row> {
 protected:
  std::vector<std::string> purchase(std::vector<std::string> more) const {
    std::vector<std::string> args{"purchase", "--user", "merchant", "--key", "s3cret", "--station", "ST", "--txn-ref",
                                  "IT-1", "--amount", "12.50", "--currency", "AUD", "--endpoint", url + "/wqmi3/pos.aspx"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::string stats() const { return httplib::Client(url).Get(kSimulatorStats)->body; }

  Program sim{KOV_SIMULATOR_PATH, {"--listen", "127.0.0.1:0", "--speed", "20", "--hold-ms", "300"}};
  std::string url = listening(sim);
};

TEST_P(KovCli, RunsOneTransaction) {
  Program cli(KOV_CLI_PATH, purchase(GetParam().more));
  EXPECT_EQ(cli.exitStatus(), GetParam().status) << cli.err();
  EXPECT_TRUE(std::regex_match(cli.out(), std::regex(GetParam().out))) << cli.out();
  EXPECT_NE(cli.err().find(GetParam().err), std::string::npos) << cli.err();
  EXPECT_EQ(cli.err().find("s3cret"), std::string::npos) << "the key in no log";
  EXPECT_TRUE(std::regex_match(stats(), std::regex(GetParam().stats))) << stats();
}

const std::string kNothingSent = R"(\{"connections":1,"requests":0,"transactions":\{\}\})";
const std::string kOneConnection = R"(\{"connections":2,"requests":\d+,"transactions":\{"IT-1":\{"Purchase":1,"Status":\d+,"UI":0\}\}\})";

INSTANTIATE_TEST_SUITE_P(
    Rows, KovCli,
    testing::Values(
        Row{"approve", {"--debug"}, 0,
            R"(\{"transactionResult":0,"authCode":"1000\d\d","maskedCardNumber":"411111\*{6}1111","cardName":"VISA",)"
            R"("expectedSettlementDate":"\d{4}-\d\d-\d\d","expectedSettlementDateTimeZone":"UTC","transactionDate":)"
            R"("\d{4}-\d\d-\d\d \d\d:\d\d:\d\d","transactionDateTimeZone":"UTC","PIX":"1010","RID":"A000000003",)"
            R"("retrievalRefNumber":"0000000000\d\d","qelTxnRef":"SIM0000\d\d","responseText":"APPROVED","reCo":"00",)"
            R"("receipt":"KOV SIMULATOR           \\r\\nSTATION ST.*APPROVED  AUTH 1000\d\d   \\r\\n","receiptLineWidth")"
            R"(:24,"response":\{"Scr/Complete":"1","Scr/DL1":"ACCEPTED",.*"Scr/Result/TR":"SIM0000\d\d"\},)"
            R"("cardNumber2":"1111","qelBillingId":"DB0000\d\d"\}\n)",
            "\n{\"state\":1,\"firstLine\":\"PRESENT/INSERT CARD\",\"secondLine\":\"PURCHASE       AUD 12.50\","
            "\"button1\":\"CANCEL\",\"button2\":null,\"receipt\":null}\n",
            kOneConnection},
        Row{"decline", {"--merchant-ref", "sim:decline"}, 1, R"(\{"transactionResult":1,.*"reCo":"51",.*\}\n)", "",
            kOneConnection},
        Row{"unreachable", {"--endpoint", "http://127.0.0.1:1/wqmi3/pos.aspx", "--debug"}, 1,
            R"(\{"transactionResult":10,"authCode":null,"maskedCardNumber":null,"cardName":null,)"
            R"("expectedSettlementDate":null,"expectedSettlementDateTimeZone":null,"transactionDate":null,)"
            R"("transactionDateTimeZone":null,"PIX":null,"RID":null,"retrievalRefNumber":null,"qelTxnRef":null,)"
            R"("responseText":null,"reCo":null,"receipt":null,"receiptLineWidth":0,"response":null,"cardNumber2":null,)"
            R"("qelBillingId":null\}\n)",
            "{\"log\":3,\"entry\":\"KOV Timeout. Out of attempts. Triggering result.\"}\n", kNothingSent},
        Row{"usage", {"--amount", "12,50"}, 2, "",
            "kov-cli: --amount needs a plain decimal number such as 12.50, not '12,50' (see kov-cli --help)\n",
            kNothingSent},
        Row{"endpoint", {"--endpoint", "http://192.0.2.1/p"}, 2, "",
            "kov-cli: --endpoint refused: plain http is accepted only for a loopback host; use https (see kov-cli "
            "--help)\n",
            kNothingSent},
        Row{"ca_file", {"--ca-file", "no-such.pem"}, 2, "",
            "kov-cli: --ca-file no-such.pem: cannot read no-such.pem: No such file or directory (see kov-cli --help)\n",
            kNothingSent},
        Row{"help", {"--help"}, 0, R"(usage: kov-cli <purchase\|auth\|complete\|refund\|void\|recover> \[options\]\n(.|\n)*)",
            "", kNothingSent}),
    [](const testing::TestParamInfo<Row>& info) { return std::string(info.param.name); });

// A host gone at the signature step; its transaction recovered, and NO pressed from stdin.
TEST_F(KovCli, RecoveredTransactionTakesTheOperatorsPress) {
  {
    Program gone(KOV_CLI_PATH, purchase({"--merchant-ref", "sim:signature"}));
    ASSERT_TRUE(gone.waitFor("\"state\":5")) << gone.err();
    EXPECT_TRUE(gone.waitFor("{\"signatureReceipt\":\"KOV SIMULATOR           \\r\\nSTATION ST"));
  }
  Program cli(KOV_CLI_PATH, {"recover", "--user", "merchant", "--key", "s3cret", "--station", "ST", "--txn-ref", "IT-1",
                             "--endpoint", url + "/wqmi3/pos.aspx"});
  ASSERT_TRUE(cli.waitFor("\"button2\":\"NO\"")) << cli.err();
  cli.write(" B2 \r\n");
  EXPECT_EQ(cli.exitStatus(), 1);
  EXPECT_NE(cli.out().find("\"reCo\":\"S2\""), std::string::npos) << cli.out();
  EXPECT_NE(stats().find("\"IT-1\":{\"Purchase\":1,"), std::string::npos) << "recovery never starts it again";
}

TEST(SimulatorProgram, LogsEachRequestWithoutTheKeyRefusesBadUsageAndStopsOnSignals) {
  const std::string body = "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T</TxnRef>"
                           "<Station>S</Station><TxnType>Purchase</TxnType></Scr>";
  for (const int stop : {SIGTERM, SIGINT}) {
    Program sim(KOV_SIMULATOR_PATH, {"--listen", "127.0.0.1:0"});
    const std::string url = listening(sim);
    ASSERT_TRUE(httplib::Client(url).Post("/wqmi3/pos.aspx", body, "text/xml"));
    const std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>> runs{
        {{"--tmo", "0"}, 2, "", "kov-simulator: --tmo wants whole seconds from 1 to 3600, not \"0\"\n"},
        {{"--help", "--tmo", "0"}, 0, "Usage: kov-simulator [options]\n", ""}};
    for (const auto& [args, status, out, err] : runs) {
      Program other(KOV_SIMULATOR_PATH, args);
      EXPECT_EQ(other.exitStatus(), status);
      EXPECT_EQ(other.out().substr(0, out.size()), out);
      EXPECT_EQ(other.err(), err);
    }
    sim.signal(stop);
    EXPECT_EQ(sim.exitStatus(), 0);
    EXPECT_EQ(sim.err(), "kov-simulator: POST Purchase TxnRef=T -> 200 started (approve), screen \"PRESENT/INSERT "
                         "CARD\" | " + std::regex_replace(body, std::regex("s3cret"), "......") + "\n");
  }
}

}  // namespace
