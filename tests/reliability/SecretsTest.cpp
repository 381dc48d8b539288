// The merchant key in no log: kov-cli runs every scenario of the simulator to its end with
// debug logging on, and nothing it prints (screens, log entries, errors, the result) holds
// the key in any form, while every request it logs shows the masked key.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "EngineRun.h"
#include "Simulator.h"

namespace kovrel {
namespace {

using namespace std::chrono_literals;

std::vector<std::string> cliArgs(const kovit::Simulator& sim, const std::string& ref, const std::string& scenario,
                                 const std::string& key = kTestKey) {
  return {"purchase",  "--user",   "merchant", "--key",      key,       "--station",      "ST-" + ref,
          "--txn-ref", ref,        "--amount", "12.50",      "--currency", "AUD",         "--merchant-ref",
          "sim:" + scenario,       "--endpoint", sim.url(),  "--debug"};
}

struct Expectation {
  const char* scenario;
  int transactionResult;
  bool skipSignature = false;
};

// Everything the program printed holds no form of the key; each request it logged shows
// the masked key; and it printed exactly one result.
void expectNoKey(const kovit::CliOutcome& out, const std::string& what) {
  SCOPED_TRACE(what);
  std::string all = out.stderrText + "\n" + out.result.dump();
  EXPECT_EQ(findKey(all), "") << all.substr(0, 4000);
  int requests = 0;
  for (const auto& line : out.stderrJson) {
    if (line.contains("log") && line["log"] == 0) {
      ++requests;
      EXPECT_NE(line["entry"].get<std::string>().find("key=\"......\""), std::string::npos) << line.dump();
    }
  }
  EXPECT_GE(requests, 1);
  EXPECT_TRUE(out.result.is_object());
}

TEST(Secrets, DebugLogsOfEveryScenarioNeverHoldTheKey) {
  kovit::Simulator sim({"--speed", "50", "--tmo", "1", "--hold-ms", "50", "--key", kTestKey});
  ASSERT_TRUE(sim.running());
  const std::vector<Expectation> cases = {
      {"approve", 0},       {"decline", 1},        {"cancel", 1},          {"signature", 0, true},
      {"drop", 10},         {"stall", 10},         {"http500", 0},         {"garbage", 0},
      {"empty", 0},         {"result-complete", 0},
  };
  // All at once, so the slow ones (stall waits out nine poll time-outs) overlap.
  std::vector<std::unique_ptr<kovit::ChildProcess>> runs;
  for (const auto& c : cases) {
    auto args = cliArgs(sim, std::string("SEC-") + c.scenario, c.scenario);
    if (c.skipSignature) args.push_back("--skip-signature");
    runs.push_back(std::make_unique<kovit::ChildProcess>(KOV_CLI_PATH, args));
  }
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const auto out = kovit::finishCli(*runs[i], 90s);
    ASSERT_TRUE(out.exitCode.has_value()) << cases[i].scenario;
    EXPECT_EQ(out.result.value("transactionResult", -1), cases[i].transactionResult) << cases[i].scenario;
    expectNoKey(out, cases[i].scenario);
  }
}

TEST(Secrets, SignaturePressedByTheOperatorAndRefusedCredentialsNeverShowTheKey) {
  kovit::Simulator sim({"--speed", "50", "--tmo", "1", "--hold-ms", "50", "--key", kTestKey});
  ASSERT_TRUE(sim.running());
  {
    kovit::ChildProcess cli(KOV_CLI_PATH, cliArgs(sim, "SEC-press", "signature"));
    ASSERT_TRUE(cli.waitForStderr("SIGNATURE", 30s).has_value());
    cli.writeStdin("B1\n");
    const auto out = kovit::finishCli(cli, 30s);
    EXPECT_EQ(out.result.value("transactionResult", -1), 0);
    expectNoKey(out, "signature pressed");
  }
  {
    // A wrong key: the service refuses it, and neither key is echoed anywhere.
    const auto out = kovit::runCli(cliArgs(sim, "SEC-wrong", "approve", "k3y-wrong&<\"x"), 30s);
    EXPECT_EQ(out.result.value("transactionResult", -1), 3);  // user or key not matched
    expectNoKey(out, "wrong key");
    EXPECT_EQ(findKey(out.stderrText + out.result.dump(), "k3y-wrong&<\"x"), "");
  }
}

TEST(Secrets, TlsFailuresNeverShowTheKeyInTheirErrorTexts) {
  kovit::Simulator sim({"--speed", "50", "--tmo", "1", "--key", kTestKey}, /*tls=*/true);
  ASSERT_TRUE(sim.running());
  // Without the simulator's CA the certificate is not trusted: nine failures, the time-out.
  const auto out = kovit::runCli(cliArgs(sim, "SEC-tls", "approve"), 60s);
  EXPECT_EQ(out.result.value("transactionResult", -1), 10);
  expectNoKey(out, "untrusted certificate");
  EXPECT_EQ(sim.requests("SEC-tls", "Purchase"), 0);
}

}  // namespace
}  // namespace kovrel
