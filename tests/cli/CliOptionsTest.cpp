#include <gtest/gtest.h>

#include "CliOptions.h"

using namespace kovcli;

namespace {

CliOptions ok(std::vector<std::string> args) {
  auto parsed = parseCliOptions(args);
  if (auto* error = std::get_if<CliUsageError>(&parsed)) {
    ADD_FAILURE() << error->message;
    return {};
  }
  return std::get<CliOptions>(parsed);
}

std::string refused(std::vector<std::string> args) {
  auto parsed = parseCliOptions(args);
  if (auto* error = std::get_if<CliUsageError>(&parsed)) return error->message;
  ADD_FAILURE() << "accepted";
  return {};
}

}  // namespace

TEST(CliOptions, FlagsNotGivenStayNullAndEmptyValuesAreEmptyText) {
  const auto o = ok({"refund", "--user", "merchant", "--key=", "--amount", "-3.5", "--merchant-ref", "",
                     "--url-fail=https://x.example/f?a=b", "--skip-signature", "--uat", "--debug"});
  EXPECT_EQ(o.txnType, KOVTransactionTypeRefund);
  EXPECT_FALSE(o.recover);
  EXPECT_EQ(o.details.userName, "merchant");
  EXPECT_EQ(o.details.key, "");
  EXPECT_EQ(o.details.merchantRef, "");
  EXPECT_EQ(o.details.urlFail, "https://x.example/f?a=b");
  EXPECT_EQ(o.details.amount, KOVDecimal::parse("-3.50"));
  EXPECT_EQ(o.details.stationId, std::nullopt);
  EXPECT_EQ(o.details.urlSuccess, std::nullopt);
  EXPECT_EQ(o.details.currencyCode, std::nullopt);
  EXPECT_TRUE(o.details.skipSignatureVerification);
  EXPECT_TRUE(o.uat);
  EXPECT_TRUE(o.debug);
}

TEST(CliOptions, EveryCommandAndRecovery) {
  EXPECT_EQ(ok({"purchase"}).txnType, KOVTransactionTypePurchase);
  EXPECT_EQ(ok({"auth"}).txnType, KOVTransactionTypeAuth);
  EXPECT_EQ(ok({"complete", "--qel-txn-ref", "Q1"}).details.qelTxnRef, "Q1");
  EXPECT_EQ(ok({"void"}).txnType, KOVTransactionTypeVoid);
  const auto r = ok({"--txn-ref", "T-9", "recover", "--station", "ST1", "--skip-signature", "--endpoint",
                     "http://127.0.0.1:9/wqmi3/pos.aspx", "--ca-file", "ca.pem"});
  EXPECT_TRUE(r.recover);
  EXPECT_EQ(r.recovery.txnRef, "T-9");
  EXPECT_EQ(r.recovery.stationId, "ST1");
  EXPECT_EQ(r.recovery.userName, std::nullopt);
  EXPECT_TRUE(r.recovery.skipSignatureVerification);
  EXPECT_EQ(r.endpoint, "http://127.0.0.1:9/wqmi3/pos.aspx");
  EXPECT_EQ(r.caFile, "ca.pem");
  EXPECT_TRUE(ok({"purchase", "--help", "--bogus"}).help);
}

TEST(CliOptions, BadUsageIsSaidInOneLine) {
  EXPECT_EQ(refused({}), "no command given (purchase, auth, complete, refund, void or recover)");
  EXPECT_EQ(refused({"sale"}), "unknown command 'sale'");
  EXPECT_EQ(refused({"purchase", "refund"}), "unexpected argument 'refund'");
  EXPECT_EQ(refused({"purchase", "--colour", "red"}), "unknown option --colour");
  EXPECT_EQ(refused({"purchase", "--user"}), "option --user needs a value");
  EXPECT_EQ(refused({"purchase", "--uat=yes"}), "option --uat takes no value");
  EXPECT_EQ(refused({"purchase", "--amount", "12,50"}),
            "--amount needs a plain decimal number such as 12.50, not '12,50'");
  EXPECT_EQ(refused({"purchase", "--amount", "1e3"}), "--amount needs a plain decimal number such as 12.50, not '1e3'");
  EXPECT_EQ(refused({"purchase", "--amount", "92233720368547758.08"}),
            "--amount '92233720368547758.08' cannot be sent: in cents it does not fit in 64 bits");
  EXPECT_EQ(ok({"purchase", "--amount", "-92233720368547758.08"}).details.amount->scaledToInt64(2), INT64_MIN);
  EXPECT_EQ(usageErrorLine("unknown option --x"), "kov-cli: unknown option --x (see kov-cli --help)");
  EXPECT_EQ(refused({"recover", "--amount", "1"}), "option --amount does not apply to recover");
  EXPECT_EQ(refused({"recover", "--currency", "AUD"}), "option --currency does not apply to recover");
}
