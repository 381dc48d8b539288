// kov-cli's command line and the JSON lines it writes: scripts read both, so their texts are
// checked exactly (the programs' own runs are in the integration tests).
#include <gtest/gtest.h>

#include "CliJson.h"
#include "CliOptions.h"

using namespace kovcli;

namespace {

// The usage error, or what runs and every field in the record's order, '-' for null. A first
// argument "KOV_KEY=..." stands for the environment.
std::string parsed(std::vector<std::string> args) {
  std::optional<std::string> environment;
  if (!args.empty() && args[0].rfind("KOV_KEY=", 0) == 0) {
    environment = args[0].substr(8);
    args.erase(args.begin());
  }
  const auto result = parseCliOptions(args, environment);
  if (const auto* error = std::get_if<CliUsageError>(&result)) return error->message;
  const CliOptions& o = std::get<CliOptions>(result);
  const KOVTransactionDetails& d = o.details;
  const KOVTransactionRecoveryDetails& r = o.recovery;
  if (o.help) return "help";
  if (o.pending) return "pending '" + *o.journal + "'";
  if (o.forget) return "forget '" + *d.txnRef + "' '" + *o.journal + "'";
  std::string text = o.recover ? "recover" : "type " + std::to_string(o.txnType);
  const auto amount = d.amount ? std::optional(d.amount->toString()) : std::nullopt;
  for (const auto& field : o.recover ? std::vector{r.userName, r.key, r.stationId, r.txnRef, o.endpoint, o.caFile}
                                     : std::vector{d.userName, d.key, d.stationId, d.txnRef, amount, d.currencyCode,
                                                   d.qelTxnRef, d.deviceId, d.posName, d.posVersion, d.vendorId,
                                                   d.merchantRef, d.urlSuccess, d.urlFail, o.endpoint, o.caFile}) {
    text += field ? " '" + *field + "'" : " -";
  }
  const bool skip = o.recover ? r.skipSignatureVerification : d.skipSignatureVerification;
  return text + (skip ? " skip" : "") + (o.uat ? " uat" : "") + (o.debug ? " debug" : "") +
         (o.retrySpacing > 0 ? " spaced " + std::to_string(o.retrySpacing) : "") +
         (o.journal ? " journal '" + *o.journal + "'" : "");
}

// What every command needs, besides what a row says.
std::vector<std::string> with(std::vector<std::string> args) {
  args.insert(args.end(), {"--user", "u", "--key", "k", "--txn-ref", "T"});
  return args;
}

using Row = std::pair<std::vector<std::string>, std::string>;

class CliOptionsTable : public testing::TestWithParam<Row> {};

TEST_P(CliOptionsTable, Parse) { EXPECT_EQ(parsed(GetParam().first), GetParam().second); }

INSTANTIATE_TEST_SUITE_P(Rows, CliOptionsTable, testing::Values(
    Row{{"refund", "--user", "merchant", "--key=", "--amount", "3.5", "--merchant-ref", "", "--skip-signature",
         "--url-fail=https://x.example/f?a=b", "--uat", "--debug", "--txn-ref", "R", "--retry-spacing", "2"},
        "type 3 'merchant' '' - 'R' '3.5' - - - - - - '' - 'https://x.example/f?a=b' - - skip uat debug spaced "
        "2.000000"},
    Row{with({"purchase", "--currency", "AUD", "--qel-txn-ref", "Q", "--device-id", "D", "--pos-name", "P",
              "--pos-version", "V", "--vendor-id", "I", "--url-success", "S", "--station", "ST", "--amount", "1.990"}),
        "type 0 'u' 'k' 'ST' 'T' '1.99' 'AUD' 'Q' 'D' 'P' 'V' 'I' - 'S' - - -"},
    Row{with({"complete"}), "type 2 'u' 'k' - 'T' - - - - - - - - - - - -"},
    Row{with({"void", "--amount", "92233720368547758.07"}),
        "type 4 'u' 'k' - 'T' '92233720368547758.07' - - - - - - - - - - -"},
    Row{{"--txn-ref", "T-9", "recover", "--user", "u", "--key", "k", "--station", "ST1", "--skip-signature",
         "--endpoint", "http://127.0.0.1:9/p", "--ca-file", "ca.pem", "--journal", "j.db"},
        "recover 'u' 'k' 'ST1' 'T-9' 'http://127.0.0.1:9/p' 'ca.pem' skip journal 'j.db'"},
    // The key: --key first, then --key-file, then the environment (empty counts as unset).
    Row{{"KOV_KEY=env", "recover", "--user", "u", "--txn-ref", "T"}, "recover 'u' 'env' - 'T' - -"},
    Row{{"KOV_KEY=env", "recover", "--user", "u", "--txn-ref", "T", "--key", "arg"}, "recover 'u' 'arg' - 'T' - -"},
    Row{{"KOV_KEY=env", "recover", "--user", "u", "--txn-ref", "T", "--key-file", "/nonexistent/key"},
        "--key-file /nonexistent/key: cannot read: No such file or directory"},
    Row{{"KOV_KEY=", "recover", "--user", "u", "--txn-ref", "T"},
        "recover needs the merchant key: --key-file PATH or KOV_KEY (or --key)"},
    Row{{"purchase", "--help", "--bogus"}, "help"},
    Row{{}, "no command given (purchase, auth, complete, refund, void, recover, pending or forget)"},
    Row{{"pending", "--journal=j.db"}, "pending 'j.db'"},
    Row{{"pending", "--journal", "j.db", "--user", "u"}, "pending takes --journal FILE and nothing else"},
    Row{{"forget", "--txn-ref", "T-1", "--journal", "j.db"}, "forget 'T-1' 'j.db'"},
    Row{{"forget", "--journal", "j.db"}, "forget takes --journal FILE --txn-ref REF and nothing else"},
    Row{{"sale"}, "unknown command 'sale'"}, Row{{"purchase", "refund"}, "unexpected argument 'refund'"},
    Row{{"purchase", "--colour", "red"}, "unknown option --colour"},
    Row{{"purchase", "--user"}, "option --user needs a value"},
    Row{{"purchase", "--uat=yes"}, "option --uat takes no value"},
    Row{{"recover", "--amount", "1"}, "option --amount does not apply to recover"},
    // Refused before anything is sent (what the record itself holds is the engine's check).
    Row{with({"purchase", "--amount", "12,50"}), "--amount needs a plain decimal number such as 12.50, not '12,50'"},
    Row{with({"void", "--endpoint", "http://127.0.0.1:99999/x"}),
        "--endpoint refused: the URL's port must be a number from 1 to 65535"},
    Row{with({"void", "--retry-spacing", "soon"}), "--retry-spacing wants seconds from 0 to 3600, not 'soon'"}));

// The status and signature lines are read back whole by the integration run.
TEST(CliJson, BytesThatAreNotUtf8CannotBreakALogLine) {
  EXPECT_EQ(logJson(KOVTransactionLogEntryResponseContent, "a\xFF"), "{\"log\":1,\"entry\":\"a\xEF\xBF\xBD\"}");
}

}  // namespace
