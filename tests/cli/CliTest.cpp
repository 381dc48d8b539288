// kov-cli's command line and the JSON lines it writes: scripts read both, so their texts are
// checked exactly (the programs' own runs are in the integration tests).
#include <gtest/gtest.h>

#include "CliJson.h"
#include "CliOptions.h"

using namespace kovcli;

namespace {

// The usage error, or what runs and every field in the record's order, '-' for null.
std::string parsed(const std::vector<std::string>& args) {
  const auto result = parseCliOptions(args);
  if (const auto* error = std::get_if<CliUsageError>(&result)) return error->message;
  const CliOptions& o = std::get<CliOptions>(result);
  const KOVTransactionDetails& d = o.details;
  const KOVTransactionRecoveryDetails& r = o.recovery;
  if (o.help) return "help";
  std::string text = o.recover ? "recover" : "type " + std::to_string(o.txnType);
  const auto amount = d.amount ? std::optional(d.amount->toString()) : std::nullopt;
  for (const auto& field : o.recover ? std::vector{r.userName, r.key, r.stationId, r.txnRef, o.endpoint, o.caFile}
                                     : std::vector{d.userName, d.key, d.stationId, d.txnRef, amount, d.currencyCode,
                                                   d.qelTxnRef, d.deviceId, d.posName, d.posVersion, d.vendorId,
                                                   d.merchantRef, d.urlSuccess, d.urlFail, o.endpoint, o.caFile}) {
    text += field ? " '" + *field + "'" : " -";
  }
  const bool skip = o.recover ? r.skipSignatureVerification : d.skipSignatureVerification;
  return text + (skip ? " skip" : "") + (o.uat ? " uat" : "") + (o.debug ? " debug" : "");
}

using Row = std::pair<std::vector<std::string>, std::string>;

class CliOptionsTable : public testing::TestWithParam<Row> {};

TEST_P(CliOptionsTable, Parse) { EXPECT_EQ(parsed(GetParam().first), GetParam().second); }

INSTANTIATE_TEST_SUITE_P(Rows, CliOptionsTable, testing::Values(
    Row{{"refund", "--user", "merchant", "--key=", "--amount", "-3.5", "--merchant-ref", "", "--skip-signature",
         "--url-fail=https://x.example/f?a=b", "--uat", "--debug"},
        "type 3 'merchant' '' - - '-3.5' - - - - - - '' - 'https://x.example/f?a=b' - - skip uat debug"},
    Row{{"purchase", "--currency", "AUD", "--qel-txn-ref", "Q", "--device-id", "D", "--pos-name", "P",
         "--pos-version", "V", "--vendor-id", "I", "--url-success", "S", "--station", "ST", "--txn-ref", "T"},
        "type 0 - - 'ST' 'T' - 'AUD' 'Q' 'D' 'P' 'V' 'I' - 'S' - - -"},
    Row{{"auth"}, "type 1 - - - - - - - - - - - - - - - -"}, Row{{"complete"}, "type 2 - - - - - - - - - - - - - - - -"},
    Row{{"void", "--amount", "-92233720368547758.08"}, "type 4 - - - - '-92233720368547758.08' - - - - - - - - - - -"},
    Row{{"--txn-ref", "T-9", "recover", "--user", "u", "--key", "k", "--station", "ST1", "--skip-signature",
         "--endpoint", "http://127.0.0.1:9/p", "--ca-file", "ca.pem"},
        "recover 'u' 'k' 'ST1' 'T-9' 'http://127.0.0.1:9/p' 'ca.pem' skip"},
    Row{{"purchase", "--help", "--bogus"}, "help"}, Row{{"-h"}, "help"},
    Row{{}, "no command given (purchase, auth, complete, refund, void or recover)"},
    Row{{"sale"}, "unknown command 'sale'"}, Row{{"purchase", "refund"}, "unexpected argument 'refund'"},
    Row{{"purchase", "--colour", "red"}, "unknown option --colour"},
    Row{{"purchase", "--user"}, "option --user needs a value"},
    Row{{"purchase", "--endpoint"}, "option --endpoint needs a value"},
    Row{{"purchase", "--uat=yes"}, "option --uat takes no value"},
    Row{{"purchase", "--amount", "12,50"}, "--amount needs a plain decimal number such as 12.50, not '12,50'"},
    Row{{"purchase", "--amount", "92233720368547758.08"},
        "--amount '92233720368547758.08' cannot be sent: in cents it does not fit in 64 bits"},
    Row{{"recover", "--amount", "1"}, "option --amount does not apply to recover"},
    Row{{"recover", "--currency", "AUD"}, "option --currency does not apply to recover"}));

// The status and signature lines are read back whole by the integration run.
TEST(CliJson, BytesThatAreNotUtf8CannotBreakALogLine) {
  EXPECT_EQ(logJson(KOVTransactionLogEntryResponseContent, "a\xFF"), "{\"log\":1,\"entry\":\"a\xEF\xBF\xBD\"}");
}

}  // namespace
