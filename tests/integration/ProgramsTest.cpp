// kov-cli against kov-simulator, both run as programs on loopback: the options, exit statuses
// and output texts that scripts and a host's CI depend on.
#include <curl/curl.h>
#include <gtest/gtest.h>

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

// A program whose output goes to files in memory; killed if it outlives its test.
struct Program {
  Program(const char* path, std::vector<std::string> args) {
    int pipe[2] = {-1, -1};
    EXPECT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    input = pipe[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [from, to] : {std::pair{pipe[0], 0}, std::pair{out, 1}, std::pair{err, 2}}) {
      posix_spawn_file_actions_adddup2(&actions, from, to);
    }
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid, path, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[0]);
  }
  Program(const Program&) = delete;
  ~Program() {
    if (!status && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    for (const int fd : {input, out, err}) ::close(fd);
  }
  static std::string text(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, off_t(all.size()))) > 0;) all.append(buffer, std::size_t(n));
    return all;
  }
  // Waits at most a minute until the text is in stdout or stderr (with none, until the end).
  bool waitFor(const std::string& needle = "") {
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      int code = 0;
      if (!status && ::waitpid(pid, &code, WNOHANG) == pid) status = WIFEXITED(code) ? WEXITSTATUS(code) : -code;
      if (needle.empty() ? status.has_value() : (text(out) + text(err)).find(needle) != std::string::npos) return true;
      if (status) return false;
    }
    return false;
  }

  const int out = ::memfd_create("stdout", MFD_CLOEXEC);
  const int err = ::memfd_create("stderr", MFD_CLOEXEC);
  int input = -1;
  pid_t pid = -1;
  std::optional<int> status;  // the exit status, or minus the signal that ended it
};

// One request by libcurl: a GET, or with a body a POST of it as text/xml; the answer's
// body, nullopt when none came.
std::optional<std::string> fetch(const std::string& url, const std::optional<std::string>& body = std::nullopt) {
  std::string answer;
  CURL* curl = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  }
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t one, std::size_t n, void* to) {
    static_cast<std::string*>(to)->append(data, one * n);
    return one * n;
  });
  const CURLcode done = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return done == CURLE_OK ? std::optional(answer) : std::nullopt;
}

// The simulator's address from its start line.
std::string listening(Program& sim) {
  std::smatch url;
  const std::string line = sim.waitFor("\n") ? Program::text(sim.out) : "";
  EXPECT_TRUE(std::regex_match(line, url, std::regex("kov-simulator listening on (http://[\\d.:]+)/wqmi3/pos.aspx\n")));
  return url[1];
}

// The options after a purchase's, the exit status, a pattern of the whole stdout, a text in
// stderr and a pattern of the simulator's counts afterwards.
using Row = std::tuple<std::vector<std::string>, int, std::string, std::string, std::string>;

class KovCli : public testing::TestWithParam<Row> {
 protected:
  std::vector<std::string> purchase(std::vector<std::string> more) const {
    more.insert(more.begin(), {"purchase", "--user", "merchant", "--key", "s3cret", "--station", "ST", "--txn-ref",
                               "IT-1", "--amount", "12.50", "--currency", "AUD", "--endpoint", url + "/wqmi3/pos.aspx"});
    return more;
  }
  std::string stats() const { return fetch(url + "/_sim/stats").value_or("-"); }

  Program sim{KOV_SIMULATOR_PATH, {"--listen", "127.0.0.1:0", "--speed", "20", "--hold-ms", "300"}};
  const std::string url = listening(sim);
};

TEST_P(KovCli, RunsOneTransaction) {
  const auto& [more, status, out, err, counts] = GetParam();
  Program cli(KOV_CLI_PATH, purchase(more));
  EXPECT_EQ(cli.waitFor() ? cli.status : std::nullopt, status);
  EXPECT_TRUE(std::regex_match(Program::text(cli.out), std::regex(out))) << Program::text(cli.out);
  EXPECT_NE(Program::text(cli.err).find(err), std::string::npos) << Program::text(cli.err);
  EXPECT_TRUE(std::regex_match(stats(), std::regex(counts))) << stats();
}

// The simulator's counts (JSON as documented): nothing sent, or the transaction on one connection.
const char* const kNothingSent = R"(\{"connections":1,"requests":0,"transactions":\{\}\})";
const char* const kOneConnection =
    R"(\{"connections":2,"requests":\d+,"transactions":\{"IT-1":\{"Purchase":1,"Status":\d+,"UI":0\}\}\})";

// Refused before anything is sent, and the usage error in one line.
Row usage(std::vector<std::string> more, const std::string& message) {
  return {more, 2, "", "kov-cli: " + message + " (see kov-cli --help)\n", kNothingSent};
}

INSTANTIATE_TEST_SUITE_P(Rows, KovCli, testing::Values(
    Row{{"--debug"}, 0,
        R"(\{"transactionResult":0,"authCode":"100001","maskedCardNumber":"411111\*{6}1111","cardName":"VISA",)"
        R"("expectedSettlementDate":"[-\d]{10}","expectedSettlementDateTimeZone":"UTC","transactionDate":"[-\d]{10})"
        R"( [:\d]{8}","transactionDateTimeZone":"UTC","PIX":"1010","RID":"A000000003","retrievalRefNumber":)"
        R"("000000000001","qelTxnRef":"SIM000001","responseText":"APPROVED","reCo":"00","receipt":"KOV SIMULATOR)"
        R"(           \\r\\nSTATION ST.*AUTH 100001   \\r\\n","receiptLineWidth":24,"response":\{"Scr/Complete":"1",)"
        R"(.*"Scr/Result/TR":"SIM000001"\},"cardNumber2":"1111","qelBillingId":"DB000001"\}\n)",
        "\n{\"state\":1,\"firstLine\":\"PRESENT/INSERT CARD\",\"secondLine\":\"PURCHASE       AUD 12.50\","
        "\"button1\":\"CANCEL\",\"button2\":null,\"receipt\":null}\n", kOneConnection},
    Row{{"--merchant-ref", "sim:decline"}, 1, R"(\{"transactionResult":1,.*"reCo":"51",.*\}\n)", "", kOneConnection},
    Row{{"--endpoint", "http://127.0.0.1:1/wqmi3/pos.aspx", "--debug"}, 1,
        R"(\{"transactionResult":10,("[a-zA-Z]+":null,){14}"receiptLineWidth":0,("[a-zA-Z2]+":null,?){3}\}\n)",
        "{\"log\":3,\"entry\":\"KOV Timeout. Out of attempts. Triggering result.\"}\n", kNothingSent},
    usage({"--amount", "12,50"}, "--amount needs a plain decimal number such as 12.50, not '12,50'"),
    usage({"--endpoint", "http://192.0.2.1/p"},
          "--endpoint refused: plain http is accepted only for a loopback host; use https"),
    usage({"--ca-file", "no.pem"}, "--ca-file no.pem: cannot read no.pem: No such file or directory"),
    Row{{"--help"}, 0, R"(usage: kov-cli <purchase\|auth\|complete\|refund\|void\|recover> \[options\]\n(.|\n)*)",
        "", R"(\{"connections":1,.*)"}));

// A host gone at the signature step; its transaction recovered, and NO pressed from stdin.
TEST_F(KovCli, RecoveredTransactionTakesTheOperatorsPress) {
  {
    Program gone(KOV_CLI_PATH, purchase({"--merchant-ref", "sim:signature"}));
    EXPECT_TRUE(gone.waitFor("{\"signatureReceipt\":\"KOV SIMULATOR           \\r\\nSTATION ST"));
  }
  Program cli(KOV_CLI_PATH, {"recover", "--user", "merchant", "--key", "s3cret", "--station", "ST", "--txn-ref", "IT-1",
                             "--endpoint", url + "/wqmi3/pos.aspx"});
  ASSERT_TRUE(cli.waitFor("\"button2\":\"NO\"")) << Program::text(cli.err);
  EXPECT_EQ(::write(cli.input, "B9\n B2 \r\n", 9), 9);
  EXPECT_TRUE(cli.waitFor("\"reCo\":\"S2\""));
  EXPECT_EQ(cli.waitFor() ? cli.status : std::nullopt, 1);
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
  Program usage(KOV_SIMULATOR_PATH, {"--tmo", "0"}), help(KOV_SIMULATOR_PATH, {"--help", "--tmo", "0"});
  EXPECT_TRUE(usage.waitFor() && help.waitFor() && usage.status == 2 && help.status == 0);
  EXPECT_EQ(Program::text(usage.err), "kov-simulator: --tmo wants whole seconds from 1 to 3600, not \"0\"\n");
  EXPECT_EQ(Program::text(help.out).substr(0, 31), "Usage: kov-simulator [options]\n");
}

}  // namespace
