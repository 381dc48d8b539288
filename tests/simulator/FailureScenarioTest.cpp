// The scenarios that make the service misbehave on purpose, as the client sees them.
#include <gtest/gtest.h>

#include <string>

#include "SimTestSupport.h"
#include "SimXml.h"

using namespace simtest;

namespace {

kovsim::SimConfig configWith(kovsim::SimScenario scenario) {
  kovsim::SimConfig config = fastConfig();
  config.scenario = scenario;
  return config;
}

}  // namespace

TEST(SimFailureScenarios, DropClosesEveryConnectionWithoutAnswer) {
  RunningSimulator sim(configWith(kovsim::SimScenario::Drop));
  auto client = sim.client();
  httplib::Result started = client->Post(kovsim::SimServer::kEndpointPath, transactionRequest("T-drop"), "text/xml");
  EXPECT_FALSE(started);
  // The request still reached the service, once, and started the transaction there.
  EXPECT_EQ(sim.server().service().stats().count("T-drop", "Purchase"), 1u);
  EXPECT_FALSE(sim.post(*sim.client(), statusRequest("T-drop")));
  EXPECT_FALSE(sim.post(*sim.client(), buttonRequest("T-drop", "B1", "CANCEL")));
  EXPECT_EQ(sim.server().service().stats().count("T-drop", "Status"), 1u);
  EXPECT_EQ(sim.server().service().stats().count("T-drop", "UI"), 1u);
  // Another transaction on the same service is not touched.
  const auto other = sim.post(*sim.client(), transactionRequest("T-other", "ST2", "sim:approve"));
  ASSERT_TRUE(other);
  EXPECT_EQ(at(parse(other->body), "Scr/DL1"), "PRESENT/INSERT CARD");
}

TEST(SimFailureScenarios, Http500CarriesAValidScreenAndResult) {
  RunningSimulator sim(configWith(kovsim::SimScenario::Http500));
  const auto first = sim.post(transactionRequest("T-500"));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 500);
  EXPECT_EQ(first->get_header_value("Content-Type"), "text/xml; charset=utf-8");
  EXPECT_EQ(at(parse(first->body), "Scr/DL1"), "PRESENT/INSERT CARD");
  EXPECT_EQ(at(parse(first->body), "Scr/Tmo"), "2");
  const NSStringDictionary end = sim.pollToEnd("T-500");
  EXPECT_EQ(at(end, "Scr/Result/AP"), "1");
}

TEST(SimFailureScenarios, GarbageAndEmptyScreensThenAValidResult) {
  for (const auto scenario : {kovsim::SimScenario::Garbage, kovsim::SimScenario::Empty}) {
    const bool garbage = scenario == kovsim::SimScenario::Garbage;
    RunningSimulator sim(configWith(scenario));
    const auto first = sim.post(transactionRequest("T-odd"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->status, 200);
    if (garbage) {
      NSStringDictionary dict;
      EXPECT_FALSE(kovsim::parseXml(first->body, dict));
      EXPECT_EQ(first->body, "<<<Scr not xml & never closed");
    } else {
      EXPECT_EQ(first->body, "");
    }
    // The final result is readable, so a client's run still ends.
    NSStringDictionary end;
    for (int i = 0; i < 20 && !isComplete(end); ++i) {
      const auto answer = sim.post(statusRequest("T-odd"));
      ASSERT_TRUE(answer);
      EXPECT_EQ(answer->status, 200);
      end = parse(answer->body);
    }
    EXPECT_EQ(at(end, "Scr/Result/RC"), "00");
  }
}

TEST(SimFailureScenarios, StallHoldsStatusAnswersPastTheClientTimeout) {
  kovsim::SimConfig config = configWith(kovsim::SimScenario::Stall);
  config.tmoSeconds = 1;  // held for 3 s
  RunningSimulator sim(config);
  const auto first = sim.post(transactionRequest("T-stall"));
  ASSERT_TRUE(first);
  EXPECT_EQ(at(parse(first->body), "Scr/Tmo"), "1");  // answered at once, with the Tmo

  auto client = sim.client();
  client->set_read_timeout(1, 0);  // the client's poll time-out: the advertised Tmo
  EXPECT_FALSE(sim.post(*client, statusRequest("T-stall")));
  EXPECT_EQ(sim.server().service().stats().count("T-stall", "Status"), 1u);
  // A button request is still answered at once.
  auto button = sim.client();
  button->set_read_timeout(1, 0);
  EXPECT_TRUE(sim.post(*button, buttonRequest("T-stall", "B1", "CANCEL")));
}
