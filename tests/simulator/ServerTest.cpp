// The simulator served in-process on 127.0.0.1 and driven over HTTP like the client does.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <vector>

#include "SimTestSupport.h"

using namespace simtest;

namespace {

kovsim::SimConfig slowConfig() {
  kovsim::SimConfig config = fastConfig();
  config.speed = 0.01;  // screens stay for minutes: only presses move them
  config.holdMs = 50;
  return config;
}

NSStringDictionary start(RunningSimulator& sim, const std::string& txnRef, const std::string& merchantRef = "") {
  const auto answer = sim.post(transactionRequest(txnRef, "ST1", merchantRef));
  EXPECT_TRUE(answer);
  EXPECT_EQ(answer ? answer->status : 0, 200);
  return answer ? parse(answer->body) : NSStringDictionary{};
}

}  // namespace

TEST(SimServer, ApproveRunsThroughEveryScreenToTheResultKeys) {
  kovsim::SimConfig config = fastConfig();
  config.speed = 5;  // the shortest screen lasts 200 ms, ample time for the next poll
  RunningSimulator sim(config);
  const NSStringDictionary first = start(sim, "T-approve");
  EXPECT_EQ(at(first, "Scr/DL1"), "PRESENT/INSERT CARD");
  EXPECT_EQ(at(first, "Scr/B1"), "CANCEL");
  EXPECT_EQ(at(first, "Scr/B1/__en"), "1");
  EXPECT_EQ(at(first, "Scr/B2/__en"), "0");
  EXPECT_EQ(at(first, "Scr/Tmo"), "2");
  EXPECT_EQ(at(first, "Scr/Complete"), "0");

  std::vector<std::string> screens;
  const NSStringDictionary end = sim.pollToEnd("T-approve", &screens);
  // Each long poll answers once the screen changed, so every screen is seen.
  EXPECT_EQ(screens, (std::vector<std::string>{"SELECT ACCOUNT", "ENTER PIN", "PROCESSING"}));
  EXPECT_EQ(at(end, "Scr/Complete"), "1");
  EXPECT_EQ(at(end, "Scr/DL1"), "ACCEPTED");
  EXPECT_EQ(at(end, "Scr/Result/AP"), "1");
  EXPECT_EQ(at(end, "Scr/Result/RC"), "00");
  EXPECT_EQ(at(end, "Scr/Result/RT"), "APPROVED");
  EXPECT_EQ(at(end, "Scr/Result/AC"), "100001");
  EXPECT_EQ(at(end, "Scr/Result/CN"), "411111******1111");
  EXPECT_EQ(at(end, "Scr/Result/CT"), "VISA");
  EXPECT_EQ(at(end, "Scr/Result/DT_TZ"), "UTC");
  EXPECT_EQ(at(end, "Scr/Result/DT").size(), std::string("2026-01-01 00:00:00").size());
  EXPECT_EQ(at(end, "Scr/Result/DS").size(), std::string("2026-01-02").size());
  EXPECT_EQ(at(end, "Scr/Result/DS_TZ"), "UTC");
  EXPECT_EQ(at(end, "Scr/Result/RRN"), "000000000001");
  EXPECT_EQ(at(end, "Scr/Result/TR"), "SIM000001");
  EXPECT_EQ(at(end, "Scr/Result/RID"), "A000000003");
  EXPECT_EQ(at(end, "Scr/Result/PIX"), "1010");
  EXPECT_EQ(at(end, "Scr/Result/CN2"), "1111");
  EXPECT_EQ(at(end, "Scr/Result/DBID"), "DB000001");
  EXPECT_EQ(at(end, "Scr/Result/RcptW"), "24");
  EXPECT_EQ(at(end, "Scr/Result/Rcpt").substr(0, 24), "KOV SIMULATOR           ");
}

TEST(SimServer, DeclineAndCancelEndWithTheirResponseCodes) {
  RunningSimulator sim;
  start(sim, "T-decline", "sim:decline");
  const NSStringDictionary declined = sim.pollToEnd("T-decline");
  EXPECT_EQ(at(declined, "Scr/DL1"), "DECLINED");
  EXPECT_EQ(at(declined, "Scr/Result/AP"), "0");
  EXPECT_EQ(at(declined, "Scr/Result/RC"), "51");

  start(sim, "T-terminal-cancel", "sim:cancel");
  const NSStringDictionary cancelled = sim.pollToEnd("T-terminal-cancel");
  EXPECT_EQ(at(cancelled, "Scr/DL1"), "CANCELLED");
  EXPECT_EQ(at(cancelled, "Scr/Result/RC"), "TC");
}

TEST(SimServer, ButtonPressesCancelOrAnswerTheSignature) {
  RunningSimulator sim(slowConfig());
  start(sim, "T-press-cancel");
  const auto pressed = sim.post(buttonRequest("T-press-cancel", "B1", "CANCEL"));
  ASSERT_TRUE(pressed);
  EXPECT_EQ(at(parse(pressed->body), "Scr/Result/RC"), "TC");  // the answer comes at once
  EXPECT_EQ(at(sim.pollToEnd("T-press-cancel"), "Scr/Result/RT"), "CANCELLED");

  // After a button request the next poll answers at once, even when the poll that was
  // held during the press took the new screen (the client drops that answer).
  kovsim::SimConfig paced = fastConfig();
  paced.speed = 2;  // the account and PIN screens last 750 ms each
  paced.holdMs = 5000;
  RunningSimulator account(paced);
  start(account, "T-account");
  EXPECT_EQ(at(parse(account.post(statusRequest("T-account"))->body), "Scr/DL1"), "SELECT ACCOUNT");
  auto superseded = std::async(std::launch::async, [&account] {
    auto client = account.client();
    return account.post(*client, statusRequest("T-account"));
  });
  ASSERT_TRUE(account.server().service().waitForHeldStatus("T-account", 1, std::chrono::seconds(10)));
  const auto chosen = account.post(buttonRequest("T-account", "B2", "SAV"));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(at(parse(chosen->body), "Scr/DL1"), "ENTER PIN");
  ASSERT_EQ(superseded.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(at(parse(superseded.get()->body), "Scr/DL1"), "ENTER PIN");
  EXPECT_EQ(at(parse(account.post(statusRequest("T-account"))->body), "Scr/DL1"), "ENTER PIN");
  EXPECT_NE(at(account.pollToEnd("T-account"), "Scr/Result/Rcpt").find("ACCOUNT SAV"), std::string::npos);

  kovsim::SimConfig config = fastConfig();
  config.scenario = kovsim::SimScenario::Signature;
  RunningSimulator signing(config);
  for (const bool yes : {true, false}) {
    const std::string txnRef = yes ? "T-sign-yes" : "T-sign-no";
    start(signing, txnRef);
    NSStringDictionary dict;
    for (int i = 0; i < 20 && at(dict, "Scr/DL1") != "SIGNATURE OK?"; ++i) {
      dict = parse(signing.post(statusRequest(txnRef))->body);
    }
    ASSERT_EQ(at(dict, "Scr/DL1"), "SIGNATURE OK?");
    EXPECT_EQ(at(dict, "Scr/B1"), "YES");
    EXPECT_EQ(at(dict, "Scr/B2"), "NO");
    EXPECT_EQ(at(dict, "Scr/RcptW"), "24");
    EXPECT_NE(at(dict, "Scr/Rcpt").find("SIGN: "), std::string::npos);
    signing.post(buttonRequest(txnRef, yes ? "B1" : "B2", yes ? "YES" : "NO"));
    const NSStringDictionary end = signing.pollToEnd(txnRef);
    EXPECT_EQ(at(end, "Scr/Result/AP"), yes ? "1" : "0");
    EXPECT_EQ(at(end, "Scr/Result/RC"), yes ? "00" : "S2");
  }
}

TEST(SimServer, RecoveryAnswersRunningFinishedAndUnknownTransactions) {
  RunningSimulator sim(slowConfig());
  start(sim, "T-running");
  // A fresh client, as after a restart of the till: the held poll ends at the hold limit
  // with the screen as it is.
  RunningSimulator* simulator = &sim;
  auto recovering = simulator->client();
  const auto running = sim.post(*recovering, statusRequest("T-running"));
  ASSERT_TRUE(running);
  EXPECT_EQ(at(parse(running->body), "Scr/DL1"), "PRESENT/INSERT CARD");

  sim.post(buttonRequest("T-running", "B1", "CANCEL"));
  auto later = simulator->client();
  const auto finished = sim.post(*later, statusRequest("T-running"));
  ASSERT_TRUE(finished);
  EXPECT_EQ(at(parse(finished->body), "Scr/Result/RC"), "TC");

  const auto unknown = sim.post(statusRequest("T-never-started"));
  ASSERT_TRUE(unknown);
  const NSStringDictionary dict = parse(unknown->body);
  EXPECT_EQ(at(dict, "Scr/Complete"), "1");
  EXPECT_EQ(at(dict, "Scr/Result/AP"), "0");
  EXPECT_EQ(at(dict, "Scr/Result/RC"), "pn");
  EXPECT_EQ(at(dict, "Scr/Result/RT"), "TRANSACTION NOT FOUND");
  // Another station does not see the transaction.
  EXPECT_EQ(at(parse(sim.post(statusRequest("T-running", "ST2"))->body), "Scr/Result/RC"), "pn");
}

TEST(SimServer, RepeatedTransactionRequestStartsNoSecondPayment) {
  RunningSimulator sim(slowConfig());
  start(sim, "T-twice");
  sim.post(buttonRequest("T-twice", "B1", "CANCEL"));
  const auto again = sim.post(transactionRequest("T-twice"));
  ASSERT_TRUE(again);
  EXPECT_EQ(at(parse(again->body), "Scr/Result/RC"), "TC");
  EXPECT_EQ(sim.server().service().stats().count("T-twice", "Purchase"), 2u);
}

struct ServiceErrorCase {
  const char* name;
  std::string body;
  const char* responseCode;
  const char* responseText;
};

void PrintTo(const ServiceErrorCase& errorCase, std::ostream* out) { *out << errorCase.name; }

class SimServiceErrors : public testing::TestWithParam<ServiceErrorCase> {};

TEST_P(SimServiceErrors, AnswerACompleteResultWithTheResponseCode) {
  kovsim::SimConfig config = slowConfig();
  config.stations = {"ST1", "ST2", "ST-OFF"};
  config.offline = {"ST-OFF"};
  RunningSimulator sim(config);
  start(sim, "T-busy-first");  // keeps ST1 busy

  const auto answer = sim.post(GetParam().body);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, 200);
  const NSStringDictionary dict = parse(answer->body);
  EXPECT_EQ(at(dict, "Scr/Complete"), "1");
  EXPECT_EQ(at(dict, "Scr/Result/AP"), "0");
  EXPECT_EQ(at(dict, "Scr/Result/RC"), GetParam().responseCode);
  EXPECT_EQ(at(dict, "Scr/Result/RT"), GetParam().responseText);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SimServiceErrors,
    testing::Values(
        ServiceErrorCase{"WrongKey", transactionRequest("T-e", "ST2", "", "Purchase", "merchant", "nope"), "p8",
                         "INVALID USER OR KEY"},
        ServiceErrorCase{"WrongUser", transactionRequest("T-e", "ST2", "", "Purchase", "someone", "s3cret"), "p8",
                         "INVALID USER OR KEY"},
        ServiceErrorCase{"WrongKeyOnStatus", statusRequest("T-busy-first", "ST1", "merchant", "nope"), "p8",
                         "INVALID USER OR KEY"},
        ServiceErrorCase{"UnknownType", transactionRequest("T-e", "ST2", "", "Sale"), "p7",
                         "INVALID TRANSACTION TYPE"},
        ServiceErrorCase{"EmptyType", transactionRequest("T-e", "ST2", "", ""), "p7", "INVALID TRANSACTION TYPE"},
        ServiceErrorCase{"UnknownStation", transactionRequest("T-e", "ST9"), "p9", "INVALID STATION"},
        ServiceErrorCase{"MissingStation", transactionRequest("T-e", ""), "p9", "INVALID STATION"},
        ServiceErrorCase{"TerminalOffline", transactionRequest("T-e", "ST-OFF"), "tq", "TERMINAL NOT CONNECTED"},
        ServiceErrorCase{"StationBusy", transactionRequest("T-e", "ST1"), "pc", "TERMINAL BUSY"}),
    [](const testing::TestParamInfo<ServiceErrorCase>& info) { return std::string(info.param.name); });

TEST(SimServer, StationIsFreeAgainOnceItsTransactionEnded) {
  RunningSimulator sim(slowConfig());
  start(sim, "T-first");
  EXPECT_EQ(at(parse(sim.post(transactionRequest("T-second"))->body), "Scr/Result/RC"), "pc");
  sim.post(buttonRequest("T-first", "B1", "CANCEL"));
  EXPECT_EQ(at(parse(sim.post(transactionRequest("T-third"))->body), "Scr/DL1"), "PRESENT/INSERT CARD");
}

TEST(SimServer, MalformedRequestsAreRefusedWith400) {
  RunningSimulator sim;
  for (const std::string body : {"", "not xml", "<Other/>", "<Scr action=\"other\" user=\"merchant\" key=\"s3cret\"/>"}) {
    const auto answer = sim.post(body);
    ASSERT_TRUE(answer) << body;
    EXPECT_EQ(answer->status, 400) << body;
    EXPECT_EQ(at(parse(answer->body), "Scr/Result/RC"), "pd") << body;
  }
}

TEST(SimServer, MerchantRefChoosesTheScenarioOfOneTransaction) {
  kovsim::SimConfig config = fastConfig();
  config.scenario = kovsim::SimScenario::Decline;
  RunningSimulator sim(config);
  start(sim, "T-default");
  EXPECT_EQ(at(sim.pollToEnd("T-default"), "Scr/Result/RC"), "51");
  start(sim, "T-chosen", "sim:approve");
  EXPECT_EQ(at(sim.pollToEnd("T-chosen"), "Scr/Result/RC"), "00");
  start(sim, "T-result-form", "sim:result-complete");
  const NSStringDictionary end = sim.pollToEnd("T-result-form");
  EXPECT_EQ(at(end, "Scr/Result/Complete"), "1");
  EXPECT_EQ(at(end, "Scr/Complete"), "<absent>");
  EXPECT_EQ(at(end, "Scr/Result/AP"), "1");
  // An unknown name falls back to the run's scenario, and the log says so.
  start(sim, "T-typo", "sim:aprove");
  EXPECT_EQ(at(sim.pollToEnd("T-typo"), "Scr/Result/RC"), "51");
  bool logged = false;
  for (const std::string& line : sim.logLines()) {
    logged = logged || line.find("unknown scenario \"sim:aprove\"") != std::string::npos;
  }
  EXPECT_TRUE(logged);
}

TEST(SimServer, StatsCountOneConnectionAndEachRequestOfAKeepAliveClient) {
  RunningSimulator sim;
  auto client = sim.client();
  ASSERT_TRUE(sim.post(*client, transactionRequest("T-stats")));
  int polls = 0;
  for (bool done = false; !done && polls < 50; ++polls) {
    const auto answer = sim.post(*client, statusRequest("T-stats"));
    ASSERT_TRUE(answer);
    done = isComplete(parse(answer->body));
  }
  const auto stats = client->Get("/_sim/stats");
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(stats->body, "{\"connections\":1,\"requests\":" + std::to_string(polls + 1) +
                             ",\"transactions\":{\"T-stats\":{\"Purchase\":1,\"Status\":" + std::to_string(polls) +
                             ",\"UI\":0}}}");
}

TEST(SimServer, LogHasALinePerRequestAndNeverTheKey) {
  kovsim::SimConfig config = fastConfig();
  config.key = "Top-Secret-9";
  RunningSimulator sim(config);
  sim.post(transactionRequest("T-log", "ST1", "", "Purchase", "merchant", "Top-Secret-9"));
  sim.post(transactionRequest("T-log-bad", "ST1", "", "Purchase", "merchant", "Wrong-Key-7"));
  sim.pollToEnd("T-log");
  const std::vector<std::string> lines = sim.logLines();
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0].substr(0, lines[0].find(" | ")),
            "POST Purchase TxnRef=T-log -> 200 started (approve), screen \"PRESENT/INSERT CARD\"");
  EXPECT_EQ(lines[1].substr(0, lines[1].find(" | ")),
            "POST Purchase TxnRef=T-log-bad -> 200 refused RC=p8 \"INVALID USER OR KEY\"");
  for (const std::string& line : lines) {
    EXPECT_EQ(line.find("Top-Secret-9"), std::string::npos) << line;
    EXPECT_EQ(line.find("Wrong-Key-7"), std::string::npos) << line;
    EXPECT_NE(line.find("key=\"......\""), std::string::npos) << line;
  }
}

TEST(SimServer, StopEndsHeldPollsAndIdleConnections) {
  kovsim::SimConfig config = slowConfig();
  config.holdMs = 600000;  // only the stop can end this poll
  RunningSimulator sim(config);
  start(sim, "T-held");
  auto idle = sim.client();
  ASSERT_TRUE(idle->Get("/_sim/stats"));  // an open keep-alive connection
  auto held = std::async(std::launch::async, [&sim] {
    auto client = sim.client();
    return sim.post(*client, statusRequest("T-held"));
  });
  ASSERT_TRUE(sim.server().service().waitForHeldStatus("T-held", 1, std::chrono::seconds(10)));
  sim.server().stop();
  ASSERT_EQ(held.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  const auto answer = held.get();
  ASSERT_TRUE(answer);
  EXPECT_EQ(at(parse(answer->body), "Scr/DL1"), "PRESENT/INSERT CARD");
}
