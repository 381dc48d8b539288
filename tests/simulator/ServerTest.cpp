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

kovsim::SimKeys start(RunningSimulator& sim, const std::string& txnRef, const std::string& merchantRef = "") {
  const auto answer = sim.post(transactionRequest(txnRef, merchantRef));
  EXPECT_TRUE(answer && answer->status == 200);
  return answer ? parse(answer->body) : kovsim::SimKeys{};
}

}  // namespace

TEST(SimServer, PressDuringAHeldPollIsSeenByThatPollAndTheNextIsAnsweredAtOnce) {
  kovsim::SimConfig config = fastConfig();
  config.speed = 2;  // the account and PIN screens last 750 ms each
  config.holdMs = 5000;
  RunningSimulator sim(config);
  start(sim, "T-account");
  EXPECT_EQ(at(sim.status("T-account"), "Scr/DL1"), "SELECT ACCOUNT");
  auto superseded = std::async(std::launch::async, [&sim] {
    auto client = sim.client();
    return sim.post(*client, request("Status", "T-account"));
  });
  ASSERT_TRUE(sim.server().service().waitForHeldStatus("T-account", 1, std::chrono::seconds(10)));
  const auto chosen = sim.post(buttonRequest("T-account", "B2"));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(at(parse(chosen->body), "Scr/DL1"), "ENTER PIN");
  ASSERT_EQ(superseded.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(at(parse(superseded.get()->body), "Scr/DL1"), "ENTER PIN");
  // The client dropped that answer: its next poll is not held for a change.
  EXPECT_EQ(at(sim.status("T-account"), "Scr/DL1"), "ENTER PIN");
  EXPECT_NE(at(sim.pollToEnd("T-account"), "Scr/Result/Rcpt").find("ACCOUNT SAV"), std::string::npos);
}

TEST(SimServer, RepeatedTransactionRequestStartsNoSecondPaymentAndTheStationIsFreeAfterTheEnd) {
  RunningSimulator sim(slowConfig());
  start(sim, "T-twice");
  EXPECT_EQ(at(parse(sim.post(transactionRequest("T-other"))->body), "Scr/Result/RC"), "pc");  // ST1 is busy
  sim.post(buttonRequest("T-twice", "B1"));
  EXPECT_EQ(at(parse(sim.post(transactionRequest("T-twice"))->body), "Scr/Result/RC"), "TC");
  EXPECT_EQ(sim.server().service().stats().count("T-twice", "Purchase"), 2u);
  EXPECT_EQ(at(start(sim, "T-third"), "Scr/DL1"), "PRESENT/INSERT CARD");
}

struct ServiceErrorCase {
  const char* name;
  std::string body;
  const char* responseCode;
  const char* responseText;
  int status = 200;
};

void PrintTo(const ServiceErrorCase& errorCase, std::ostream* out) { *out << errorCase.name; }

class SimServiceErrors : public testing::TestWithParam<ServiceErrorCase> {};

TEST_P(SimServiceErrors, AnswerACompleteResultWithTheResponseCode) {
  kovsim::SimConfig config = slowConfig();
  config.stations = {"ST1", "ST2", "ST-OFF"};
  config.offline = {"ST-OFF"};
  RunningSimulator sim(config);
  start(sim, "T-busy");  // keeps ST1 busy
  const auto answer = sim.post(GetParam().body);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->status, GetParam().status);
  const kovsim::SimKeys keys = parse(answer->body);
  EXPECT_EQ(at(keys, "Scr/Complete"), "1");
  EXPECT_EQ(at(keys, "Scr/Result/AP"), "0");
  EXPECT_EQ(at(keys, "Scr/Result/RC"), GetParam().responseCode);
  EXPECT_EQ(at(keys, "Scr/Result/RT"), GetParam().responseText);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, SimServiceErrors,
    testing::Values(
        ServiceErrorCase{"WrongKey", request("Purchase", "T-e", "ST2", "", "nope"), "p8", "INVALID USER OR KEY"},
        ServiceErrorCase{"WrongKeyOnStatus", request("Status", "T-busy", "ST1", "", "nope"), "p8",
                         "INVALID USER OR KEY"},
        ServiceErrorCase{"UnknownType", request("Sale", "T-e", "ST2"), "p7", "INVALID TRANSACTION TYPE"},
        ServiceErrorCase{"UnknownStation", request("Purchase", "T-e", "ST9"), "p9", "INVALID STATION"},
        ServiceErrorCase{"MissingStation", request("Purchase", "T-e", ""), "p9", "INVALID STATION"},
        ServiceErrorCase{"TerminalOffline", request("Purchase", "T-e", "ST-OFF"), "tq", "TERMINAL NOT CONNECTED"},
        ServiceErrorCase{"StationBusy", request("Purchase", "T-e", "ST1"), "pc", "TERMINAL BUSY"},
        ServiceErrorCase{"UnknownTransaction", request("Status", "T-never"), "pn", "TRANSACTION NOT FOUND"},
        ServiceErrorCase{"AnotherStationsTransaction", request("Status", "T-busy", "ST2"), "pn",
                         "TRANSACTION NOT FOUND"},
        ServiceErrorCase{"NotXml", "not xml", "pd", "MALFORMED REQUEST", 400},
        ServiceErrorCase{"UnknownAction", "<Scr action=\"other\" user=\"merchant\" key=\"s3cret\"/>", "pd",
                         "UNKNOWN ACTION", 400}),
    [](const testing::TestParamInfo<ServiceErrorCase>& info) { return std::string(info.param.name); });

TEST(SimServer, MerchantRefChoosesTheScenarioAndAnUnknownNameIsLogged) {
  kovsim::SimConfig config = fastConfig();
  config.scenario = {kovsim::SimTerminal::Decline};
  RunningSimulator sim(config);
  start(sim, "T-chosen", "sim:result-complete");
  const kovsim::SimKeys end = sim.pollToEnd("T-chosen");
  EXPECT_EQ(at(end, "Scr/Result/Complete"), "1");
  EXPECT_EQ(at(end, "Scr/Complete"), "<absent>");
  EXPECT_EQ(at(end, "Scr/Result/AP"), "1");
  start(sim, "T-typo", "sim:aprove");
  EXPECT_EQ(at(sim.pollToEnd("T-typo"), "Scr/Result/RC"), "51");
  const std::vector<std::string> lines = sim.logLines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].substr(0, lines[0].find(" | ")),
            "POST Purchase TxnRef=T-chosen -> 200 started (result-complete), screen \"PRESENT/INSERT CARD\"");
  bool logged = false;
  for (const std::string& line : lines) {
    logged = logged || line.find("started (decline, unknown scenario \"sim:aprove\")") != std::string::npos;
    EXPECT_NE(line.find("key=\"......\""), std::string::npos) << line;
  }
  EXPECT_TRUE(logged);
}

TEST(SimServer, StatsCountOneConnectionAndEachRequestOfAKeepAliveClient) {
  RunningSimulator sim;
  auto client = sim.client();
  ASSERT_TRUE(sim.post(*client, transactionRequest("T-stats")));
  int polls = 0;
  for (bool done = false; !done && polls < 50; ++polls) {
    const auto answer = sim.post(*client, request("Status", "T-stats"));
    ASSERT_TRUE(answer);
    done = at(parse(answer->body), "Scr/Complete") == "1";
  }
  const auto stats = client->Get("/_sim/stats");
  ASSERT_TRUE(stats);
  EXPECT_EQ(stats->get_header_value("Content-Type"), "application/json");
  EXPECT_EQ(stats->body, "{\"connections\":1,\"requests\":" + std::to_string(polls + 1) +
                             ",\"transactions\":{\"T-stats\":{\"Purchase\":1,\"Status\":" + std::to_string(polls) +
                             ",\"UI\":0}}}");
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
    return sim.post(*client, request("Status", "T-held"));
  });
  ASSERT_TRUE(sim.server().service().waitForHeldStatus("T-held", 1, std::chrono::seconds(10)));
  sim.server().stop();
  ASSERT_EQ(held.wait_for(std::chrono::seconds(20)), std::future_status::ready);
  const auto answer = held.get();
  ASSERT_TRUE(answer);
  EXPECT_EQ(at(parse(answer->body), "Scr/DL1"), "PRESENT/INSERT CARD");
}
