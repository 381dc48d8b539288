// What the simulator plays, without a server: scenario names, the terminal's script with its
// exact texts (hosts' tests read them), the log's masking and the command line.
#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "SimLog.h"
#include "SimOptions.h"
#include "SimTransaction.h"

using namespace kovsim;
using namespace std::chrono_literals;

namespace {

// A row's name as a test name: letters, digits and underscores only.
std::string testName(std::string text) {
  for (char& c : text) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return text;
}

using NameRow = std::tuple<const char*, SimScenario, const char*>;  // and which of requests 0..7 meet the fault

class SimScenarioNames : public testing::TestWithParam<NameRow> {};

TEST_P(SimScenarioNames, ReadBackAndMeetTheirRequests) {
  const auto& [name, scenario, hits] = GetParam();
  ASSERT_EQ(scenarioFromName(name), scenario);
  EXPECT_EQ(scenarioName(scenario), name);
  std::string met;
  for (std::uint64_t n = 0; n < 8; ++n) met += scenario.hits(n) ? 'x' : '.';
  EXPECT_EQ(met, hits);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimScenarioNames, testing::Values(
    NameRow{"stall", {SimTerminal::Approve, SimFault::Stall}, ".xxxxxxx"},
    NameRow{"reset-body-first", {SimTerminal::Approve, SimFault::ResetBody, true}, "xxxxxxxx"},
    NameRow{"close-2", {SimTerminal::Approve, SimFault::Close, false, 2}, ".xx.xx.x"},
    NameRow{"bad-utf8-first-1", {SimTerminal::Approve, SimFault::BadUtf8, true, 1}, "x.x.x.x."},
    NameRow{"odd-tmo-1000", {SimTerminal::Approve, SimFault::OddTmo, false, 1000}, ".xxxxxxx"}),
    [](const auto& info) { return testName(std::get<0>(info.param)); });

TEST(SimScenarioNames, OldNameMerchantReferencesAndWrongNames) {
  EXPECT_EQ(scenarioFromName("drop"), (SimScenario{SimTerminal::Approve, SimFault::Close, true}));
  for (const char* wrong : {"Approve", "approve-first", "reset-0", "reset-08", "reset-1001", "refuse-8",
                            "reset-first-first", "-first", "reset-", "first"}) {
    EXPECT_FALSE(scenarioFromName(wrong)) << wrong;
  }
  bool unknown = true;
  EXPECT_EQ(scenarioFromMerchantRef("sim:cut-first", unknown), (SimScenario{SimTerminal::Approve, SimFault::Cut, true}));
  EXPECT_FALSE(scenarioFromMerchantRef("order 42", unknown) || unknown);
  EXPECT_TRUE(!scenarioFromMerchantRef("sim:nope", unknown) && unknown);
}

const SimTransaction::Clock::time_point kStart{};

SimTransaction transaction(SimTerminal terminal, double speed = 1.0) {
  return SimTransaction({"T1", "ST1", "Purchase", "12.50", "AUD", 7}, {terminal}, speed, kStart);
}

TEST(SimTransaction, SignatureRunShowsEveryScreenWithTheClockThenWaitsForThePress) {
  SimTransaction txn = transaction(SimTerminal::Signature, 10.0);
  EXPECT_EQ(txn.nextChange(), kStart + SimTransaction::kCardTime / 10);
  std::string seen;
  for (bool more = true; more; more = txn.nextChange() && txn.advance(*txn.nextChange())) {
    const SimScreen s = txn.screen();
    seen += s.line1 + "|" + s.line2 + "|" + s.button1.label + (s.button1.enabled ? "+|" : "|") + s.button2.label +
            (s.button2.enabled ? "+\n" : "\n");
  }
  EXPECT_EQ(seen, "PRESENT/INSERT CARD|PURCHASE       AUD 12.50|CANCEL+|\nSELECT ACCOUNT|PURCHASE       AUD 12.50|CHQ+|"
                  "SAV+\nENTER PIN|PURCHASE       AUD 12.50|CANCEL+|\nPROCESSING|PLEASE WAIT||\n"
                  "SIGNATURE OK?|CHECK SIGNATURE|YES+|NO+\n");
  EXPECT_EQ(txn.screen().receipt, "KOV SIMULATOR           STATION ST1             REF T1                  "
                                  "PURCHASE       AUD 12.50VISA 411111******1111   ACCOUNT CHQ             "
                                  "SIGNATURE REQUIRED                              SIGN: __________________");
  EXPECT_TRUE(txn.press("B1", kStart + 1h) && txn.result().line1 == "ACCEPTED");
}

// Terminal, when the button is pressed, which one, and then whether the press counted and the end.
using PressRow = std::tuple<SimTerminal, std::chrono::milliseconds, const char*, const char*>;

class SimTransactionPress : public testing::TestWithParam<PressRow> {};

TEST_P(SimTransactionPress, EndsTheTransactionAsTheTerminalWould) {
  const auto& [terminal, at, button, ending] = GetParam();
  SimTransaction txn = transaction(terminal);
  const bool counted = txn.press(button, kStart + at);
  txn.advance(kStart + 2h);
  const SimResult& r = txn.result();
  EXPECT_EQ((counted ? "pressed " : "ignored ") + r.line1 + " " + r.field("RC") + " " + r.field("CN") + " " +
            r.field("Rcpt").substr(120, 11), ending);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimTransactionPress, testing::Values(
    PressRow{SimTerminal::Decline, 0ms, "B3", "ignored DECLINED 51 411111******1111 ACCOUNT CHQ"},
    PressRow{SimTerminal::Cancel, 0ms, "B2", "ignored CANCELLED TC  ACCOUNT CHQ"},
    PressRow{SimTerminal::Approve, 1999ms, "B1", "pressed CANCELLED TC  ACCOUNT CHQ"},
    PressRow{SimTerminal::Approve, 2000ms, "B2", "pressed ACCEPTED 00 411111******1111 ACCOUNT SAV"},
    PressRow{SimTerminal::Approve, 3500ms, "B1", "pressed CANCELLED TC 411111******1111 ACCOUNT CHQ"},
    PressRow{SimTerminal::Approve, 5000ms, "B1", "ignored ACCEPTED 00 411111******1111 ACCOUNT CHQ"}),
    [](const auto& info) {
      return testName(scenarioName({std::get<0>(info.param)}) + "_" + std::to_string(std::get<1>(info.param).count()) +
                      "ms_" + std::get<2>(info.param));
    });

TEST(SimLog, NoKeyReachesALogLine) {
  EXPECT_EQ(maskKey("<Scr key=\"wrong\"><X>s3cret</X></Scr> <Scr key='a b' monkey=\"x\"> <Scr key=\"cut", "s3cret"),
            "<Scr key=\"......\"><X>......</X></Scr> <Scr key=\"......\" monkey=\"x\"> <Scr key=\"......\"");
  EXPECT_EQ(oneLine("a\r\nb\tc\x7f"), "a  b c ");
}

// The command line read back: the error, or every setting.
std::string options(const std::vector<std::string>& args) {
  const SimOptions o = parseOptions(args);
  const SimConfig& c = o.config;
  std::string text = (o.help ? "help " : "") + c.host + ":" + std::to_string(c.port) + (c.allowRemote ? " remote" : "") +
                     (c.tls ? " tls " + c.certDir : "") + " cert" + std::to_string(static_cast<int>(c.certificate)) +
                     (c.oldTls ? " old " : " ") + scenarioName(c.scenario) + " x" + std::to_string(c.speed) + " tmo" +
                     std::to_string(c.tmoSeconds) + " hold" + std::to_string(c.holdMs) + " " + c.user + " " + c.key;
  for (const auto& station : c.stations) text += " " + station;
  for (const auto& station : c.offline) text += " off:" + station;
  return o.error.empty() ? text : o.error;
}

struct OptionsRow {
  const char* name;
  std::vector<std::string> args;
  std::string read;  // what the options say, or the one-line refusal
};

class SimCommandLine : public testing::TestWithParam<OptionsRow> {};

TEST_P(SimCommandLine, IsReadOrRefusedInOneLine) { EXPECT_EQ(options(GetParam().args), GetParam().read); }

INSTANTIATE_TEST_SUITE_P(Rows, SimCommandLine, testing::Values(
    OptionsRow{"Defaults", {}, "127.0.0.1:8080 cert0 approve x1.000000 tmo30 hold-1 merchant s3cret"},
    OptionsRow{"EveryOption",
               {"--listen=[::1]:0", "--tls", "--cert-dir", "d", "--tls-cert", "expired", "--tls-old", "--scenario",
                "reset-8", "--speed", "1000000", "--tmo", "3600", "--hold-ms", "0", "--user", "u", "--key", "k",
                "--stations", "A,,B", "--offline", "B"},
               "::1:0 tls d cert3 old reset-8 x1000000.000000 tmo3600 hold0 u k A B off:B"},
    OptionsRow{"HelpWithRemoteListen",
               {"--listen", "0.0.0.0:65535", "--allow-remote", "--tmo", "1", "--hold-ms", "3600000", "--tls",
                "--cert-dir", "d", "--tls-cert", "unknown-ca", "--tls-cert", "wrong-host", "--speed", "0.5", "-h"},
               "help 0.0.0.0:65535 remote tls d cert2 approve x0.500000 tmo1 hold3600000 merchant s3cret"},
    OptionsRow{"UnknownOption", {"--bogus", "--listen", "127.0.0.1:0"}, "unknown option \"--bogus\" (see --help)"},
    OptionsRow{"TlsWithoutCertDir", {"--user=", "--tls"}, "--tls needs --cert-dir DIR"},
    OptionsRow{"ListenWithoutPort", {"--listen", "127.0.0.1"}, "--listen wants HOST:PORT, not \"127.0.0.1\""},
    OptionsRow{"RemoteListenRefused", {"--listen", "0.0.0.0:0"},
               "refusing to listen on 0.0.0.0, which is not a loopback address (use --allow-remote)"},
    OptionsRow{"SpeedZero", {"--speed", "0"}, "--speed wants a number above 0, not \"0\""},
    OptionsRow{"HoldWithoutValue", {"--hold-ms"}, "--hold-ms needs a value"},
    OptionsRow{"CertWithoutTls", {"--tls-cert", "expired"}, "--tls-cert and --tls-old need --tls"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
