// kov-cli's command line and the JSON lines it writes: scripts read both, so their texts are
// checked exactly (the programs' own runs are in the integration tests).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "CliOptions.h"
#include "ToolJson.h"

using namespace kovcli;

namespace {

std::string seconds(const std::optional<double>& value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value.value_or(-1));
  return text;
}

// The usage error, or what runs and every field in the record's order, '-' for null. A first
// argument "KOV_KEY=..." stands for the environment; an argument "file:TEXT" for a key file
// holding TEXT, named KEYFILE in what is read back.
std::string parsed(std::vector<std::string> args) {
  std::optional<std::string> environment;
  if (!args.empty() && args[0].rfind("KOV_KEY=", 0) == 0) {
    environment = args[0].substr(8);
    args.erase(args.begin());
  }
  const std::string keyFile = testing::TempDir() + "kov-cli-key-" + std::to_string(::getpid());
  for (std::string& arg : args) {
    if (arg.rfind("file:", 0) == 0) {
      std::ofstream(keyFile, std::ios::binary) << arg.substr(5);
      arg = keyFile;
    }
  }
  const auto result = parseCliOptions(args, environment);
  ::unlink(keyFile.c_str());
  std::string text;
  if (const auto* error = std::get_if<CliUsageError>(&result)) {
    text = error->message;
  } else {
    const CliOptions& o = std::get<CliOptions>(result);
    const KOVTransactionDetails& d = o.details;
    const KOVTransactionRecoveryDetails& r = o.recovery;
    if (o.help) return "help";
    if (o.pending) return "pending '" + *o.journal + "'";
    if (o.forget) return "forget '" + *d.txnRef + "' '" + *o.journal + "'";
    text = o.recover ? "recover" : "type " + std::to_string(o.txnType);
    const auto amount = d.amount ? std::optional(d.amount->toString()) : std::nullopt;
    for (const auto& field : o.recover ? std::vector{r.userName, r.key, r.stationId, r.txnRef, o.endpoint, o.caFile}
                                       : std::vector{d.userName, d.key, d.stationId, d.txnRef, amount, d.currencyCode,
                                                     d.qelTxnRef, d.deviceId, d.posName, d.posVersion, d.vendorId,
                                                     d.merchantRef, d.urlSuccess, d.urlFail, o.endpoint, o.caFile}) {
      text += field ? " '" + *field + "'" : " -";
    }
    const bool skip = o.recover ? r.skipSignatureVerification : d.skipSignatureVerification;
    text += std::string(skip ? " skip" : "") + (o.uat ? " uat" : "") + (o.debug ? " debug" : "") +
            (o.retrySpacing ? " spaced " + seconds(o.retrySpacing) : "") +
            (o.pollFloor ? " floor " + seconds(o.pollFloor) : "") +
            (o.deadline ? " deadline " + seconds(o.deadline) : "") + (o.journal ? " journal '" + *o.journal + "'" : "");
  }
  for (std::size_t at; (at = text.find(keyFile)) != std::string::npos;) text.replace(at, keyFile.size(), "KEYFILE");
  return text;
}

// What every command needs, besides what a row says.
std::vector<std::string> with(std::vector<std::string> args) {
  args.insert(args.end(), {"--user", "u", "--key", "k", "--txn-ref", "T"});
  return args;
}

// A row: its name, the arguments, and what they read as.
struct Row {
  const char* name;
  std::vector<std::string> args;
  std::string expected;
};

class CliOptionsTable : public testing::TestWithParam<Row> {};

TEST_P(CliOptionsTable, Parse) { EXPECT_EQ(parsed(GetParam().args), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Rows, CliOptionsTable, testing::Values(
    Row{"EveryOptionOfARefund",
        {"refund", "--user", "merchant", "--key=", "--amount", "3.5", "--merchant-ref", "", "--skip-signature",
         "--url-fail=https://x.example/f?a=b", "--uat", "--debug", "--txn-ref", "R", "--retry-spacing", "2.5",
         "--poll-floor", "0", "--deadline", "86400"},
        "type 3 'merchant' '' - 'R' '3.5' - - - - - - '' - 'https://x.example/f?a=b' - - skip uat debug spaced "
        "2.5 floor 0 deadline 86400"},
    Row{"EveryFieldOfAPurchase",
        with({"purchase", "--currency", "AUD", "--qel-txn-ref", "Q", "--device-id", "D", "--pos-name", "P",
              "--pos-version", "V", "--vendor-id", "I", "--url-success", "S", "--station", "ST", "--amount", "1.990"}),
        "type 0 'u' 'k' 'ST' 'T' '1.99' 'AUD' 'Q' 'D' 'P' 'V' 'I' - 'S' - - -"},
    Row{"CompleteWithNothingElse", with({"complete"}), "type 2 'u' 'k' - 'T' - - - - - - - - - - - -"},
    Row{"LargestAmount", with({"void", "--amount", "92233720368547758.07", "--retry-spacing", "0"}),
        "type 4 'u' 'k' - 'T' '92233720368547758.07' - - - - - - - - - - - spaced 0"},
    // Options before the command, and a value that looks like an option taken as given.
    Row{"OptionsBeforeTheCommand",
        {"--txn-ref", "T-9", "recover", "--user", "-u", "--key", "k", "--station", "ST1", "--skip-signature",
         "--endpoint", "http://127.0.0.1:9/p", "--ca-file", "ca.pem", "--journal", "j.db", "--deadline", "60"},
        "recover '-u' 'k' 'ST1' 'T-9' 'http://127.0.0.1:9/p' 'ca.pem' skip deadline 60 journal 'j.db'"},
    // The key: from exactly one source (an empty KOV_KEY counts as unset), a key file's first
    // line without its byte order mark or line end, at most 4 KiB read.
    Row{"KeyFileFirstLineWithoutMarkOrLineEnd",
        {"KOV_KEY=", "recover", "--user", "u", "--txn-ref", "T", "--key-file", "file:\xEF\xBB\xBFs3cret\r\nnext\n"},
        "recover 'u' 's3cret' - 'T' - -"},
    Row{"KeyFromArgumentAndEnvironment", {"KOV_KEY=env", "recover", "--user", "u", "--txn-ref", "T", "--key", "arg"},
        "the merchant key is given by --key and KOV_KEY: give exactly one of them"},
    Row{"KeyFromThreeSources", {"KOV_KEY=env", "recover", "--key", "k", "--key-file", "/nonexistent/key"},
        "the merchant key is given by --key, --key-file and KOV_KEY: give exactly one of them"},
    Row{"EmptyEnvironmentKeyIsUnset", {"KOV_KEY=", "recover", "--user", "u", "--txn-ref", "T"},
        "recover needs the merchant key: --key-file PATH or KOV_KEY (or --key)"},
    Row{"KeyFileMissing", {"recover", "--key-file", "/nonexistent/key"},
        "--key-file /nonexistent/key: cannot read: No such file or directory"},
    Row{"KeyFileIsADirectory", {"recover", "--key-file", "/"}, "--key-file /: cannot read: Is a directory"},
    Row{"KeyFileTooLarge", {"recover", "--key-file", "/dev/zero"},
        "--key-file /dev/zero is too large for a key file (over 4 KiB)"},
    Row{"KeyFileFirstLineEmpty", {"recover", "--key-file", "file:\xEF\xBB\xBF\r\ns3cret\n"},
        "--key-file KEYFILE holds no key on its first line"},
    Row{"KeyFileKeyWithABlank", {"recover", "--key-file", "file:s3cret \n"},
        "the merchant key from --key-file KEYFILE begins or ends with a blank, which would be sent as part of it"},
    Row{"EnvironmentKeyWithABlank", {"KOV_KEY=\ts3cret", "recover"},
        "the merchant key from KOV_KEY begins or ends with a blank, which would be sent as part of it"},
    Row{"HelpBeforeAnything", {"purchase", "--help", "--bogus"}, "help"},
    Row{"NoCommand", {}, "no command given (purchase, auth, complete, refund, void, recover, pending or forget)"},
    Row{"Pending", {"pending", "--journal=j.db"}, "pending 'j.db'"},
    Row{"PendingWithMore", {"pending", "--journal", "j.db", "--user", "u"},
        "pending takes --journal FILE and nothing else"},
    Row{"ForgetWithoutReference", {"forget", "--journal", "j.db"},
        "forget takes --journal FILE --txn-ref REF and nothing else"},
    Row{"UnknownCommand", {"sale"}, "unknown command 'sale'"},
    Row{"SecondCommand", {"purchase", "refund"}, "unexpected argument 'refund'"},
    Row{"UnknownOption", {"purchase", "--colour", "red"}, "unknown option --colour"},
    Row{"OptionWithoutValue", {"purchase", "--user"}, "option --user needs a value"},
    Row{"FlagWithAValue", {"purchase", "--uat=maybe"}, "Could not convert: --uat = maybe"},
    Row{"OptionOfAnotherCommand", {"recover", "--amount", "1"}, "option --amount does not apply to recover"},
    // Refused before anything is sent (what the record itself holds is the engine's check).
    Row{"AmountTwice", with({"purchase", "--amount", "1", "--amount", "1"}), "--amount is given twice"},
    Row{"FlagThreeTimes", with({"purchase", "--uat", "--uat", "--uat"}), "--uat is given 3 times"},
    Row{"AmountWithAComma", with({"purchase", "--amount", "12,50"}),
        "--amount needs a plain decimal number such as 12.50, not '12,50'"},
    Row{"EndpointRefused", with({"void", "--endpoint", "http://127.0.0.1:99999/x"}),
        "--endpoint refused: the URL's port must be a number from 1 to 65535"},
    Row{"RetrySpacingInHex", with({"void", "--retry-spacing", "0x10"}),
        "--retry-spacing wants seconds from 0 to 3600, not '0x10'"},
    Row{"RetrySpacingPastAnHour", with({"void", "--retry-spacing", "3600.5"}),
        "--retry-spacing wants seconds from 0 to 3600, not '3600.5'"},
    Row{"PollFloorWithoutWholeDigits", with({"void", "--poll-floor", ".5"}),
        "--poll-floor wants seconds from 0 to 60, not '.5'"},
    Row{"DeadlineZero", with({"void", "--deadline", "0"}), "--deadline wants seconds from 1 to 86400, not '0'"}),
    [](const auto& info) { return std::string(info.param.name); });

// The status and signature lines are read back whole by the integration run.
TEST(ToolJson, BytesThatAreNotUtf8CannotBreakALogLine) {
  EXPECT_EQ(kovtools::logJson(KOVTransactionLogEntryResponseContent, "a\xFF"),
            "{\"log\":1,\"entry\":\"a\xEF\xBF\xBD\"}");
}

}  // namespace
