// kov-cli against kov-simulator on loopback: the real Qt transport, the real engine, the
// real service conversation.
#include <gtest/gtest.h>

#include "Simulator.h"

using namespace kovit;
using namespace std::chrono_literals;

namespace {

// One simulator for the transactions that choose their scenario through the merchant
// reference; screens advance quickly.
class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { sim = std::make_unique<Simulator>(std::vector<std::string>{"--speed", "20", "--hold-ms", "300"}); }
  static void TearDownTestSuite() { sim.reset(); }
  void SetUp() override { ASSERT_TRUE(sim->running()); }
  static std::unique_ptr<Simulator> sim;
};
std::unique_ptr<Simulator> EndToEnd::sim;

std::string testRef() {
  return std::string("IT-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

}  // namespace

TEST_F(EndToEnd, PurchaseIsApprovedOverOneConnection) {
  const int before = sim->connections();
  const auto out = runCli(purchaseArgs(*sim, testRef(), {"--debug"}));
  // Every stats request is a connection of its own: this one, and the one before.
  EXPECT_EQ(sim->connections() - before, 2) << "one connection for the whole transaction";
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_EQ(out.result["transactionResult"], 0);
  EXPECT_TRUE(out.result["authCode"].is_string());
  EXPECT_NE(out.result["authCode"], "");
  EXPECT_TRUE(out.result["response"].is_object());
  const auto states = out.states();
  ASSERT_FALSE(states.empty());
  EXPECT_EQ(states.front(), 1) << "the card screen comes first";
  EXPECT_EQ(sim->requests(testRef(), "Purchase"), 1);
  EXPECT_EQ(out.stderrText.find("s3cret"), std::string::npos) << "the key never reaches a log";
}

TEST_F(EndToEnd, DeclineEndsWithTheServicesResponseCode) {
  const auto out = runCli(purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:decline"}));
  ASSERT_EQ(out.exitCode, 1) << out.stderrText;
  EXPECT_EQ(out.result["transactionResult"], 1);
  EXPECT_TRUE(out.result["reCo"].is_string());
  EXPECT_NE(out.result["reCo"], "00");
}

TEST_F(EndToEnd, SignatureIsAnsweredOnTheOperatorsBehalf) {
  const auto out = runCli(purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:signature", "--skip-signature"}));
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_EQ(sim->requests(testRef(), "UI"), 1);
  EXPECT_FALSE(out.hasStderr("state", 5)) << "the answered step is never shown";
  EXPECT_EQ(out.stderrText.find("signatureReceipt"), std::string::npos);
}

TEST_F(EndToEnd, ButtonPressFromStdinAnswersTheSignatureStep) {
  ChildProcess cli(KOV_CLI_PATH, purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:signature"}));
  ASSERT_TRUE(cli.waitForStderr("\"state\":5", 30s)) << cli.allStderr();
  cli.writeStdin("B1\n");  // YES
  const auto out = finishCli(cli);
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_NE(out.stderrText.find("{\"signatureReceipt\":"), std::string::npos);
  EXPECT_EQ(sim->requests(testRef(), "UI"), 1);
}

TEST_F(EndToEnd, CancelPressedAtTheCardScreen) {
  ChildProcess cli(KOV_CLI_PATH, purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:signature"}));
  ASSERT_TRUE(cli.waitForStderr("\"state\":1", 30s)) << cli.allStderr();
  cli.writeStdin("B1\n");
  const auto out = finishCli(cli);
  EXPECT_EQ(out.exitCode, 1) << out.stderrText;
  EXPECT_NE(out.result["transactionResult"], 0);
}

TEST_F(EndToEnd, RecoveryAfterTheHostWentAway) {
  {
    ChildProcess cli(KOV_CLI_PATH, purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:signature"}));
    ASSERT_TRUE(cli.waitForStderr("\"state\":5", 30s)) << cli.allStderr();
    cli.kill();
  }
  const auto out = runCli({"recover", "--user", "merchant", "--key", "s3cret", "--station", testRef(), "--txn-ref",
                           testRef(), "--skip-signature", "--endpoint", sim->url()});
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_EQ(out.result["transactionResult"], 0);
  EXPECT_EQ(sim->requests(testRef(), "Purchase"), 1) << "recovery never starts the transaction again";
}

TEST_F(EndToEnd, DroppedConnectionsEndWithTimeoutAndTheRequestSentOnce) {
  const auto out = runCli(purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:drop", "--debug"}));
  ASSERT_EQ(out.exitCode, 1) << out.stderrText;
  EXPECT_EQ(out.result["transactionResult"], 10);
  EXPECT_TRUE(out.hasStderr("entry", "KOV Timeout. Starting attempt 9"));
  EXPECT_TRUE(out.hasStderr("entry", "KOV Timeout. Out of attempts. Triggering result."));
  EXPECT_EQ(sim->requests(testRef(), "Purchase"), 1) << "a transaction request reaches the wire at most once";
  EXPECT_EQ(sim->requests(testRef(), "Status"), 8);
}

TEST_F(EndToEnd, Http500IsReadByItsBody) {
  const auto out = runCli(purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:http500"}));
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_EQ(out.result["transactionResult"], 0);
}

TEST_F(EndToEnd, CompletionUnderResultIsUnderstood) {
  const auto out = runCli(purchaseArgs(*sim, testRef(), {"--merchant-ref", "sim:result-complete"}));
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_EQ(out.result["response"]["Scr/Result/Complete"], "1");
}

TEST_F(EndToEnd, ServiceErrorsMapToResultCodes) {
  auto wrongKey = purchaseArgs(*sim, testRef() + "-key");
  wrongKey[4] = "wrong";
  auto out = runCli(wrongKey);
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.result["transactionResult"], 3) << out.stderrText;
}

TEST_F(EndToEnd, UnreachableServiceIsNineFailures) {
  const auto out = runCli({"purchase", "--user", "m", "--key", "k", "--txn-ref", testRef(), "--endpoint",
                           "http://127.0.0.1:1/wqmi3/pos.aspx"});
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.result["transactionResult"], 10);
}

TEST(EndToEndStall, AnswersHeldPastTheTimeoutAreFailures) {
  Simulator sim({"--scenario", "stall", "--tmo", "1", "--speed", "20"});
  ASSERT_TRUE(sim.running());
  const auto out = runCli(purchaseArgs(sim, "IT-stall", {"--debug"}));
  ASSERT_EQ(out.exitCode, 1) << out.stderrText;
  EXPECT_EQ(out.result["transactionResult"], 10);
  EXPECT_EQ(sim.requests("IT-stall", "Purchase"), 1);
}

TEST(EndToEndPolls, TwentyPollsShareOneConnection) {
  // Short holds and a slow terminal make many polls per screen.
  Simulator sim({"--hold-ms", "20", "--speed", "1"});
  ASSERT_TRUE(sim.running());
  const auto out = runCli(purchaseArgs(sim, "IT-polls"));
  EXPECT_EQ(sim.connections(), 2) << "one for the whole transaction, one for this stats request";
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_GE(sim.requests("IT-polls", "Status"), 20);
}

TEST(EndToEndTls, TrustedTestCaCompletesAndUntrustedNeverSendsTheKey) {
  Simulator sim({"--speed", "20"}, true);
  ASSERT_TRUE(sim.running());
  ASSERT_EQ(sim.url().rfind("https://", 0), 0u);
  auto out = runCli(purchaseArgs(sim, "IT-tls", {"--ca-file", sim.caFile()}));
  ASSERT_EQ(out.exitCode, 0) << out.stderrText;
  EXPECT_EQ(sim.requests("IT-tls", "Purchase"), 1);

  out = runCli(purchaseArgs(sim, "IT-untrusted"));
  EXPECT_EQ(out.exitCode, 1);
  EXPECT_EQ(out.result["transactionResult"], 10) << out.stderrText;
  EXPECT_EQ(sim.requests("IT-untrusted", "Purchase"), 0) << "no request got through the failed handshake";
  EXPECT_EQ(sim.requests("IT-untrusted", "Status"), 0);
  EXPECT_EQ(sim.process().allStderr().find("IT-untrusted"), std::string::npos);
}
