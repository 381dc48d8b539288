// kov-cli's command line and the JSON lines it writes: both are read by scripts, so their
// texts are checked exactly.
#include <gtest/gtest.h>

#include "CliJson.h"
#include "CliOptions.h"

using namespace kovcli;

namespace {

// The parsed command line on one line: what runs, then every field that is set.
std::string parsed(const std::vector<std::string>& args) {
  const auto result = parseCliOptions(args);
  if (const auto* error = std::get_if<CliUsageError>(&result)) return "error: " + error->message;
  const CliOptions& o = std::get<CliOptions>(result);
  if (o.help) return "help";
  std::string text = o.recover ? "recover" : "type " + std::to_string(o.txnType);
  const auto add = [&](const char* name, const std::optional<std::string>& value) {
    if (value) text += std::string(" ") + name + "=" + *value;
  };
  const KOVTransactionDetails& d = o.details;
  const KOVTransactionRecoveryDetails& r = o.recovery;
  add("user", o.recover ? r.userName : d.userName);
  add("key", o.recover ? r.key : d.key);
  add("station", o.recover ? r.stationId : d.stationId);
  add("ref", o.recover ? r.txnRef : d.txnRef);
  add("amount", d.amount ? std::optional(d.amount->toString()) : std::nullopt);
  for (const auto& field : {d.currencyCode, d.qelTxnRef, d.deviceId, d.posName, d.posVersion, d.vendorId,
                            d.merchantRef, d.urlSuccess, d.urlFail}) {
    add("text", field);
  }
  add("endpoint", o.endpoint);
  add("ca", o.caFile);
  if (o.recover ? r.skipSignatureVerification : d.skipSignatureVerification) text += " skip";
  return text + (o.uat ? " uat" : "") + (o.debug ? " debug" : "");
}

struct Row {
  std::vector<std::string> args;
  std::string expected;
};

class CliOptionsTable : public testing::TestWithParam<Row> {};

TEST_P(CliOptionsTable, Parse) { EXPECT_EQ(parsed(GetParam().args), GetParam().expected); }

const std::string kNotDecimal = "error: --amount needs a plain decimal number such as 12.50, not ";

INSTANTIATE_TEST_SUITE_P(
    Rows, CliOptionsTable,
    testing::Values(
        Row{{"refund", "--user", "merchant", "--key=", "--amount", "-3.5", "--merchant-ref", "", "--skip-signature",
             "--url-fail=https://x.example/f?a=b", "--uat", "--debug"},
            "type 3 user=merchant key= amount=-3.5 text= text=https://x.example/f?a=b skip uat debug"},
        Row{{"purchase", "--currency", "AUD", "--qel-txn-ref", "Q", "--device-id", "D", "--pos-name", "P",
             "--pos-version", "V", "--vendor-id", "I", "--url-success", "S"},
            "type 0 text=AUD text=Q text=D text=P text=V text=I text=S"},
        Row{{"auth"}, "type 1"}, Row{{"complete"}, "type 2"}, Row{{"void"}, "type 4"},
        Row{{"--txn-ref", "T-9", "recover", "--user", "u", "--key", "k", "--station", "ST1", "--skip-signature",
             "--endpoint", "http://127.0.0.1:9/p", "--ca-file", "ca.pem"},
            "recover user=u key=k station=ST1 ref=T-9 endpoint=http://127.0.0.1:9/p ca=ca.pem skip"},
        Row{{"purchase", "--amount", "-92233720368547758.08"}, "type 0 amount=-92233720368547758.08"},
        Row{{"purchase", "--help", "--bogus"}, "help"}, Row{{"-h"}, "help"},
        Row{{}, "error: no command given (purchase, auth, complete, refund, void or recover)"},
        Row{{"sale"}, "error: unknown command 'sale'"},
        Row{{"purchase", "refund"}, "error: unexpected argument 'refund'"},
        Row{{"purchase", "--colour", "red"}, "error: unknown option --colour"},
        Row{{"purchase", "--user"}, "error: option --user needs a value"},
        Row{{"purchase", "--endpoint"}, "error: option --endpoint needs a value"},
        Row{{"purchase", "--uat=yes"}, "error: option --uat takes no value"},
        Row{{"purchase", "--skip-signature="}, "error: option --skip-signature takes no value"},
        Row{{"purchase", "--amount", "12,50"}, kNotDecimal + "'12,50'"},
        Row{{"purchase", "--amount=1e3"}, kNotDecimal + "'1e3'"},
        Row{{"purchase", "--amount", "92233720368547758.08"},
            "error: --amount '92233720368547758.08' cannot be sent: in cents it does not fit in 64 bits"},
        Row{{"recover", "--amount", "1"}, "error: option --amount does not apply to recover"},
        Row{{"recover", "--currency", "AUD"}, "error: option --currency does not apply to recover"}));

TEST(CliJson, LinesHaveTheirExactText) {
  EXPECT_EQ(statusJson(KOVStateAwaitingCardSwipe, std::nullopt, "INSERT CARD", "", std::string("CANCEL"), std::nullopt),
            "{\"state\":1,\"firstLine\":\"INSERT CARD\",\"secondLine\":\"\",\"button1\":\"CANCEL\",\"button2\":null,"
            "\"receipt\":null}");
  EXPECT_EQ(signatureReceiptJson(std::nullopt), "{\"signatureReceipt\":null}");
  // Bytes that are not UTF-8 cannot break the line.
  EXPECT_EQ(logJson(KOVTransactionLogEntryResponseContent, "a\xFF"), "{\"log\":1,\"entry\":\"a\xEF\xBF\xBD\"}");
}

}  // namespace
