// kov-bridge run as a program against kov-simulator, talked to over HTTP as a page would: a
// purchase with its events (over https), the refusals of the guard and of the till, a
// cancel at the terminal, and a bridge stopped in the middle of a payment that recovers it on
// restart. Neither the key nor the token ever shows in an answer or in the bridge's output.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "Programs.h"

namespace {

using kovit::Program;

constexpr const char* kKey = "br1dge-s3cret-K3y";

struct Answer {
  long status = 0;
  std::string headers;
  std::string body;
};

// One request by libcurl; extra headers as "Name: value" (an empty value drops curl's own);
// over https, trusting the CA file given.
Answer ask(const std::string& method, const std::string& url, const std::vector<std::string>& headers,
           const std::optional<std::string>& body, const std::string& caFile) {
  Answer answer;
  CURL* curl = curl_easy_init();
  curl_slist* list = nullptr;
  for (const std::string& header : headers) list = curl_slist_append(list, header.c_str());
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, method.c_str());
  curl_easy_setopt(curl, CURLOPT_HTTPHEADER, list);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 60L);
  if (body) curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
  if (!caFile.empty()) curl_easy_setopt(curl, CURLOPT_CAINFO, caFile.c_str());
  const auto append = +[](char* data, std::size_t one, std::size_t n, void* to) {
    static_cast<std::string*>(to)->append(data, one * n);
    return one * n;
  };
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer.body);
  curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, append);
  curl_easy_setopt(curl, CURLOPT_HEADERDATA, &answer.headers);
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &answer.status);
  curl_slist_free_all(list);
  curl_easy_cleanup(curl);
  return answer;
}

// The first line of a program that says where it listens: its URL (up to the path), or "".
std::string listensOn(Program& program, const std::string& name) {
  std::smatch url;
  const std::string line = program.waitFor("\n") ? Program::text(program.out) : "";
  EXPECT_TRUE(std::regex_search(line, url, std::regex("^" + name + " listening on (https?://127\\.0\\.0\\.1:\\d+)")))
      << line << Program::text(program.err);
  return url[1];
}

// A simulator, and a bridge on it with a key file, token file and journal of the test's own;
// with tls, both serve https with the simulator's test certificate and trust its CA.
class Bridge {
 public:
  explicit Bridge(const char* speed = "20", bool tls = false)
      : _tls(tls),
        _sim(KOV_SIMULATOR_PATH, tls ? std::vector<std::string>{"--listen", "127.0.0.1:0", "--speed", speed, "--key",
                                                                 kKey, "--tls", "--cert-dir", _dir}
                                     : std::vector<std::string>{"--listen", "127.0.0.1:0", "--speed", speed, "--key", kKey}),
        _simUrl(listensOn(_sim, "kov-simulator")) {
    std::ofstream(_dir + "key") << kKey << "\n";
    ::chmod((_dir + "key").c_str(), 0600);
    start();
  }
  ~Bridge() { std::filesystem::remove_all(_dir); }

  void start() {
    std::vector<std::string> args{"--endpoint", _simUrl + "/wqmi3/pos.aspx", "--listen", "127.0.0.1:0",
                                  "--user", "merchant", "--station", "ST-B", "--key-file", _dir + "key",
                                  "--token-file", _dir + "token", "--journal", _dir + "journal.db",
                                  "--allow-origin", "http://till.example"};
    if (_tls) {
      args.insert(args.end(), {"--ca-file", caFile(), "--tls-cert", _dir + "server.pem", "--tls-key",
                               _dir + "server-key.pem"});
    }
    _bridge = std::make_unique<Program>(KOV_BRIDGE_PATH, args);
    _url = listensOn(*_bridge, "kov-bridge");
    std::ifstream(_dir + "token") >> _token;
  }
  // Ends the bridge with the signal; its exit status, or minus the signal that ended it.
  std::optional<int> stop(int signal) {
    ::kill(_bridge->pid, signal);
    _bridge->waitFor();
    _output += Program::text(_bridge->out) + Program::text(_bridge->err);
    return _bridge->status;
  }

  Answer call(const std::string& method, const std::string& path, std::vector<std::string> headers = {},
              const std::optional<std::string>& body = std::nullopt, bool withToken = true) {
    if (withToken) headers.push_back("Authorization: Bearer " + _token);
    const Answer answer = ask(method, _url + path, headers, body, _tls ? caFile() : "");
    _answers += answer.headers + answer.body;
    return answer;
  }
  Answer start(const std::string& txnRef, const std::string& scenario) {
    return call("POST", "/v1/transactions", {},
                R"({"type":"purchase","txnRef":")" + txnRef +
                    R"(","amount":"12.50","currency":"AUD","merchantRef":"sim:)" + scenario + "\"}");
  }
  // Transaction, status and button requests the service received for txnRef.
  std::string received(const std::string& txnRef) const {
    std::smatch counts;
    const std::string all = ask("GET", _simUrl + "/_sim/stats", {}, std::nullopt, _tls ? caFile() : "").body;
    if (!std::regex_search(all, counts,
                           std::regex("\"" + txnRef + R"(":\{("Purchase":(\d+),)?"Status":(\d+),"UI":(\d+))"))) {
      return "0 0 0";
    }
    return (counts[2].matched ? counts[2].str() : "0") + " " + counts[3].str() + " " + counts[4].str();
  }
  // Neither secret in any answer or output line.
  void expectNoSecrets() {
    const std::string all = _answers + _output + Program::text(_bridge->out) + Program::text(_bridge->err);
    EXPECT_EQ(all.find(kKey), std::string::npos);
    EXPECT_EQ(all.find(_token), std::string::npos);
    EXPECT_EQ(_token.size(), 64U);
  }
  std::string output() const { return Program::text(_bridge->err); }
  // What the bridges stopped so far wrote.
  const std::string& stoppedOutput() const { return _output; }
  const std::string& url() const { return _url; }

 private:
  std::string caFile() const { return _dir + "ca.pem"; }

  const std::string _dir = [] {
    static int made = 0;
    std::string dir = testing::TempDir() + "kov-bridge-" + std::to_string(::getpid()) + "-" + std::to_string(++made) + "/";
    ::mkdir(dir.c_str(), 0700);
    return dir;
  }();
  const bool _tls;
  Program _sim;
  const std::string _simUrl;
  std::unique_ptr<Program> _bridge;
  std::string _url;
  std::string _token;
  std::string _answers;
  std::string _output;
};

const std::regex kApprovedEvents(
    "event: screen\ndata: \\{\"state\":1,\"firstLine\":\"PRESENT/INSERT CARD\",\"secondLine\":\"PURCHASE       AUD "
    "12.50\",\"button1\":\"CANCEL\",\"button2\":null,\"receipt\":null\\}\n\n"
    "(event: screen\ndata: [^\n]*\n\n)*"
    "event: result\ndata: \\{\"transactionResult\":0,[^\n]*,\"reason\":null,\"requestSent\":true\\}\n\n");

// Over https, with its start line saying so, against a service over https too.
TEST(BridgeProgram, TakesAPurchaseAndKeepsItsResultUntilAcknowledged) {
  Bridge bridge("20", true);
  EXPECT_EQ(bridge.url().substr(0, 8), "https://");
  const Answer started = bridge.start("T-1", "approve");
  EXPECT_EQ(started.status, 202);
  EXPECT_EQ(started.body, R"({"txnRef":"T-1","events":"/v1/transactions/T-1/events"})");
  const Answer events = bridge.call("GET", "/v1/transactions/T-1/events");
  EXPECT_EQ(events.status, 200);
  EXPECT_NE(events.headers.find("Content-Type: text/event-stream"), std::string::npos) << events.headers;
  EXPECT_TRUE(std::regex_match(events.body, kApprovedEvents)) << events.body;
  // A page that reloads gets the result again, alone, until it acknowledges it.
  const Answer replayed = bridge.call("GET", "/v1/transactions/T-1/events");
  EXPECT_EQ(replayed.body.substr(0, replayed.body.find('\n') + 1), "event: result\n");
  EXPECT_EQ(replayed.body.substr(replayed.body.find("data: ")), events.body.substr(events.body.rfind("data: ")));
  EXPECT_NE(bridge.call("GET", "/v1/pending").body.find(R"("stage":"answered")"), std::string::npos);
  // Started again before that, the same payment attaches to its result.
  const Answer again = bridge.start("T-1", "approve");
  EXPECT_EQ(again.status, 200);
  EXPECT_EQ(again.body, started.body);
  EXPECT_EQ(bridge.call("POST", "/v1/transactions/T-1/acknowledge").body, R"({"txnRef":"T-1"})");
  EXPECT_EQ(bridge.call("GET", "/v1/pending").body, "[]");
  EXPECT_EQ(bridge.call("GET", "/v1/transactions/T-1/events").status, 404);
  EXPECT_EQ(bridge.start("T-1", "approve").status, 409) << "a reference is never used for a second payment";
  EXPECT_NE(bridge.call("GET", "/metrics").body.find("kov_transactions_total{type=\"purchase\",result=\"approved\"} 1\n"),
            std::string::npos);
  EXPECT_EQ(bridge.received("T-1").substr(0, 2), "1 ");
  bridge.expectNoSecrets();
}

struct Refusal {
  const char* name;
  const char* method;
  const char* path;
  std::vector<std::string> headers;
  std::optional<std::string> body;
  bool withToken;
  long status;
  const char* answer;      // the whole body, or nullptr to leave it
  const char* header;      // a header line the answer has, or nullptr
};

void PrintTo(const Refusal& r, std::ostream* out) { *out << r.name; }

// One bridge for the table, with T-1 held at the signature step (answered by no one).
class Refusals : public testing::TestWithParam<Refusal> {
 protected:
  static void SetUpTestSuite() {
    bridge = std::make_unique<Bridge>();
    EXPECT_EQ(bridge->start("T-1", "signature").status, 202);
  }
  static void TearDownTestSuite() {
    bridge->expectNoSecrets();
    bridge.reset();
  }
  static std::unique_ptr<Bridge> bridge;
};

std::unique_ptr<Bridge> Refusals::bridge;

TEST_P(Refusals, AnswerWithTheirReason) {
  const Refusal& row = GetParam();
  const Answer answer = bridge->call(row.method, row.path, row.headers, row.body, row.withToken);
  EXPECT_EQ(answer.status, row.status);
  // The request's log line, written before its answer, names the status it got.
  const std::string log = bridge->output();
  EXPECT_TRUE(log.ends_with(" -> " + std::to_string(row.status) + "\n")) << log;
  if (row.answer) {
    EXPECT_EQ(answer.body, row.answer);
  }
  if (row.header) {
    EXPECT_NE(answer.headers.find(std::string(row.header) + "\r\n"), std::string::npos) << answer.headers;
  }
}

const std::string kPurchase = R"({"type":"purchase","txnRef":"T-1","amount":"12.50","currency":"AUD","merchantRef":"sim:signature"})";

INSTANTIATE_TEST_SUITE_P(
    Bridge, Refusals,
    testing::Values(
        Refusal{"NoToken", "GET", "/v1/pending", {}, std::nullopt, false, 401,
                R"({"error":"the bridge's token is needed: Authorization: Bearer TOKEN"})", "WWW-Authenticate: Bearer"},
        Refusal{"WrongToken", "GET", "/v1/pending", {"Authorization: Bearer 00"}, std::nullopt, false, 401,
                R"({"error":"the token is not this bridge's"})", nullptr},
        Refusal{"MetricsNeedTheToken", "GET", "/metrics", {}, std::nullopt, false, 401, nullptr, nullptr},
        Refusal{"HealthNeedsNone", "GET", "/healthz", {}, std::nullopt, false, 200, R"({"status":"ok"})", nullptr},
        Refusal{"ForeignHost", "GET", "/healthz", {"Host: rebound.example:8787"}, std::nullopt, true, 403,
                R"({"error":"the Host header does not name this bridge"})", nullptr},
        Refusal{"PreflightOfListedOrigin", "OPTIONS", "/v1/transactions",
                {"Origin: http://till.example", "Access-Control-Request-Method: POST"}, std::nullopt, false, 204, "",
                "Access-Control-Allow-Origin: http://till.example"},
        Refusal{"BodyOver16KiB", "POST", "/v1/transactions", {}, std::string(16 * 1024 + 1, ' '), true, 413,
                R"({"error":"the body is over 16 KiB"})", nullptr},
        Refusal{"UnknownField", "POST", "/v1/transactions", {},
                std::string(R"({"type":"purchase","txnRef":"T-2","station":"ST-0"})"), true, 400,
                R"({"error":"unknown field \"station\""})", nullptr},
        Refusal{"RecoveryWhileOneRuns", "POST", "/v1/transactions/T-9/recover", {}, std::nullopt, true, 409,
                R"({"error":"T-1 is running: one transaction at a time"})", nullptr},
        Refusal{"SecondTransaction", "POST", "/v1/transactions", {},
                std::string(R"({"type":"purchase","txnRef":"T-2","amount":"1.00","currency":"AUD"})"), true, 409,
                R"({"error":"T-1 is running: one transaction at a time"})", nullptr},
        Refusal{"SameReferenceSameFields", "POST", "/v1/transactions", {}, kPurchase, true, 200,
                R"({"txnRef":"T-1","events":"/v1/transactions/T-1/events"})", nullptr},
        Refusal{"SameReferenceOtherAmount", "POST", "/v1/transactions", {},
                std::string(R"({"type":"purchase","txnRef":"T-1","amount":"99.00","currency":"AUD"})"), true, 409,
                R"({"error":"T-1 is running with other fields"})", nullptr},
        Refusal{"PressOfAnotherTransaction", "POST", "/v1/transactions/T-2/press", {}, std::string(R"({"button":"B1"})"),
                true, 409, R"({"error":"T-2 is not running"})", nullptr},
        Refusal{"UnknownPath", "GET", "/v1/other", {}, std::nullopt, true, 404, R"({"error":"no such path"})", nullptr},
        Refusal{"UnknownEvents", "GET", "/v1/transactions/T-7/events", {}, std::nullopt, true, 404,
                R"({"error":"no such transaction"})", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// The page's cancel presses the terminal's CANCEL, and the result follows on the events; a
// button the screen does not show is not pressed.
TEST(BridgeProgram, CancelsAtTheTerminal) {
  Bridge bridge("0.05");
  EXPECT_EQ(bridge.start("T-X", "approve").status, 202);
  const Answer press = bridge.call("POST", "/v1/transactions/T-X/press", {}, std::string(R"({"button":"B2"})"));
  EXPECT_EQ(press.status, 409);
  EXPECT_EQ(press.body, R"({"error":"the screen shown has no button B2"})");
  const Answer cancel = bridge.call("POST", "/v1/transactions/T-X/cancel");
  EXPECT_EQ(cancel.status, 202);
  EXPECT_EQ(cancel.body, R"({"txnRef":"T-X"})");
  const Answer events = bridge.call("GET", "/v1/transactions/T-X/events");
  EXPECT_NE(events.body.find("event: result\ndata: {\"transactionResult\":1,"), std::string::npos) << events.body;
  EXPECT_NE(events.body.find("CANCELLED"), std::string::npos) << events.body;
  const std::string received = bridge.received("T-X");
  EXPECT_EQ(received.substr(received.rfind(' ')), " 1") << "one press, the CANCEL: " << received;
  bridge.expectNoSecrets();
}

struct Stop {
  const char* name;
  int signal;
  int status;         // the exit status, or minus the signal that ended the bridge
  const char* said;   // a line of its output, or nullptr
};

class StoppedMidPayment : public testing::TestWithParam<Stop> {};

// Stopped at a screen, the bridge recovers the payment at its next start before it takes a
// new one (it stays in the journal, whether the bridge is killed or ends cleanly); the page
// gets the result from the events, and the service saw the purchase once.
TEST_P(StoppedMidPayment, RecoversItOnRestart) {
  const Stop& row = GetParam();
  Bridge bridge("2");
  EXPECT_EQ(bridge.start("T-C", "approve").status, 202);
  for (int i = 0; i < 500 && bridge.received("T-C").rfind("1 ", 0) != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(bridge.stop(row.signal), row.status) << bridge.stoppedOutput();
  if (row.said) {
    EXPECT_NE(bridge.stoppedOutput().find(row.said), std::string::npos) << bridge.stoppedOutput();
  }
  bridge.start();
  const Answer events = bridge.call("GET", "/v1/transactions/T-C/events");
  EXPECT_EQ(events.status, 200);
  EXPECT_NE(events.body.find("event: result\ndata: {\"transactionResult\":0,"), std::string::npos) << events.body;
  EXPECT_NE(bridge.output().find("kov-bridge: recovering T-C\n"), std::string::npos) << bridge.output();
  EXPECT_EQ(bridge.received("T-C").substr(0, 2), "1 ");
  EXPECT_EQ(bridge.call("POST", "/v1/transactions/T-C/acknowledge").status, 200);
  EXPECT_EQ(bridge.call("GET", "/v1/pending").body, "[]");
  bridge.expectNoSecrets();
}

INSTANTIATE_TEST_SUITE_P(Bridge, StoppedMidPayment,
                         testing::Values(Stop{"Killed", SIGKILL, -SIGKILL, nullptr},
                                         Stop{"Terminated", SIGTERM, 0, "kov-bridge: stopping\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
