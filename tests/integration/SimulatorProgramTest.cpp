// The kov-simulator program itself: its start line, its log, its usage errors and its clean stop.
#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>

#include "Simulator.h"

using namespace kovit;
using namespace std::chrono_literals;

TEST(SimulatorProgram, ServesLogsWithoutTheKeyAndStopsCleanlyOnSignals) {
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(stopSignal == SIGTERM ? "SIGTERM" : "SIGINT");
    Simulator sim({"--speed", "50"});
    ASSERT_TRUE(sim.running()) << "no start line";
    EXPECT_EQ(sim.url().rfind("http://127.0.0.1:", 0), 0u) << sim.url();
    EXPECT_EQ(runCli(purchaseArgs(sim, "T-program")).exitCode, 0);

    httplib::Client idle(sim.url().substr(0, sim.url().find("/wqmi3")));
    ASSERT_TRUE(idle.Get("/_sim/stats"));  // leaves a keep-alive connection open

    sim.process().signal(stopSignal);
    EXPECT_EQ(sim.process().waitForExit(20s), 0);
    const std::string errors = sim.process().allStderr();
    EXPECT_NE(errors.find("kov-simulator: POST Purchase TxnRef=T-program -> 200 started (approve)"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("s3cret"), std::string::npos);
  }
}

TEST(SimulatorProgram, BadUsageIsOneLineOnStderrAndExitStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--bogus"}, "kov-simulator: unknown option \"--bogus\" (see --help)\n"},
      {{"--listen", "0.0.0.0:0"},
       "kov-simulator: refusing to listen on 0.0.0.0, which is not a loopback address (use --allow-remote)\n"},
      {{"--listen", "127.0.0.1"}, "kov-simulator: --listen wants HOST:PORT, not \"127.0.0.1\"\n"},
      {{"--scenario", "nope"},
       "kov-simulator: unknown scenario \"nope\" (one of: approve, decline, cancel, signature, result-complete, "
       "drop; or a fault NAME[-first][-N] with NAME one of: close, reset, reset-body, cut, stall, trickle, refuse, "
       "http404, http502, oversize, http500, garbage, truncated, empty, bad-utf8, deep, doctype, odd-tmo)\n"},
      {{"--speed", "0"}, "kov-simulator: --speed wants a number above 0, not \"0\"\n"},
      {{"--tmo", "0"}, "kov-simulator: --tmo wants whole seconds from 1 to 3600, not \"0\"\n"},
      {{"--hold-ms"}, "kov-simulator: --hold-ms needs a value\n"},
      {{"--tls"}, "kov-simulator: --tls needs --cert-dir DIR\n"},
  };
  for (const auto& [args, expected] : cases) {
    ChildProcess program(KOV_SIMULATOR_PATH, args);
    EXPECT_EQ(program.waitForExit(20s), 2) << expected;
    EXPECT_EQ(program.allStderr(), expected);
  }
  ChildProcess help(KOV_SIMULATOR_PATH, {"--help"});
  EXPECT_EQ(help.nextStdoutLine(20s), "Usage: kov-simulator [options]");
  EXPECT_EQ(help.waitForExit(20s), 0);
}
