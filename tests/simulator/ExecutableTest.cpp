// The kov-simulator program: its start line, its usage errors and its clean stop.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <vector>

#include "SimProcess.h"
#include "SimTestSupport.h"

using simtest::Program;

TEST(SimProgram, PrintsItsUrlServesAndStopsCleanlyOnSignals) {
  for (const int stopSignal : {SIGTERM, SIGINT}) {
    Program program({"--listen", "127.0.0.1:0", "--speed", "50", "--tmo", "3"});
    const std::string line = program.readLine(std::chrono::seconds(20));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match,
                                 std::regex(R"(kov-simulator listening on http://127\.0\.0\.1:([0-9]+)/wqmi3/pos\.aspx)")))
        << line;
    const int port = std::stoi(match[1]);
    ASSERT_GT(port, 0);

    httplib::Client client("127.0.0.1", port);
    const auto answer = client.Post("/wqmi3/pos.aspx", simtest::transactionRequest("T-program"), "text/xml");
    ASSERT_TRUE(answer);
    EXPECT_EQ(simtest::at(simtest::parse(answer->body), "Scr/Tmo"), "3");
    ASSERT_TRUE(client.Get("/_sim/stats"));  // leaves a keep-alive connection open

    program.signal(stopSignal);
    EXPECT_EQ(program.wait(), 0);
    const std::string errors = program.readErrors();
    EXPECT_NE(errors.find("kov-simulator: POST Purchase TxnRef=T-program -> 200 started (approve)"), std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("s3cret"), std::string::npos);
  }
}

TEST(SimProgram, BadUsageIsOneLineOnStderrAndExitStatus2) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
      {{"--bogus"}, "kov-simulator: unknown option \"--bogus\" (see --help)\n"},
      {{"--listen", "0.0.0.0:0"},
       "kov-simulator: refusing to listen on 0.0.0.0, which is not a loopback address (use --allow-remote)\n"},
      {{"--listen", "127.0.0.1"}, "kov-simulator: --listen wants HOST:PORT, not \"127.0.0.1\"\n"},
      {{"--scenario", "nope"},
       "kov-simulator: unknown scenario \"nope\" (one of: approve, decline, cancel, signature, drop, stall, "
       "http500, garbage, empty, result-complete)\n"},
      {{"--speed", "0"}, "kov-simulator: --speed wants a number above 0, not \"0\"\n"},
      {{"--tmo", "0"}, "kov-simulator: --tmo wants whole seconds from 1 to 3600, not \"0\"\n"},
      {{"--hold-ms"}, "kov-simulator: --hold-ms needs a value\n"},
      {{"--tls"}, "kov-simulator: --tls needs --cert-dir DIR\n"},
  };
  for (const auto& [args, expected] : cases) {
    Program program(args);
    EXPECT_EQ(program.readErrors(), expected);
    EXPECT_EQ(program.wait(), 2) << expected;
  }
  Program help({"--help"});
  const std::string first = help.readLine(std::chrono::seconds(20));
  EXPECT_EQ(first, "Usage: kov-simulator [options]");
  EXPECT_EQ(help.wait(), 0);
}
