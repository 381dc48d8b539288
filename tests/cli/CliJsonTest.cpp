#include <gtest/gtest.h>

#include "CliJson.h"

using namespace kovcli;

TEST(CliJson, ResultRecordHasEveryFieldUnderItsOwnName) {
  auto r = KOVTransactionResultDetails::initWithResult(KOVTransactionResultTimeout);
  EXPECT_EQ(resultJson(r),
            "{\"transactionResult\":10,\"authCode\":null,\"maskedCardNumber\":null,\"cardName\":null,"
            "\"expectedSettlementDate\":null,\"expectedSettlementDateTimeZone\":null,\"transactionDate\":null,"
            "\"transactionDateTimeZone\":null,\"PIX\":null,\"RID\":null,\"retrievalRefNumber\":null,"
            "\"qelTxnRef\":null,\"responseText\":null,\"reCo\":null,\"receipt\":null,\"receiptLineWidth\":0,"
            "\"response\":null,\"cardNumber2\":null,\"qelBillingId\":null}");
  r.transactionResult = KOVTransactionResultSucceeded;
  r.authCode = "A\"1";
  r.receipt = "L1\r\n";
  r.receiptLineWidth = 20;
  r.response = std::make_shared<NSStringDictionary>(NSStringDictionary{{"Scr/Complete", "1"}});
  const std::string json = resultJson(r);
  EXPECT_NE(json.find("\"transactionResult\":0,\"authCode\":\"A\\\"1\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"receipt\":\"L1\\r\\n\",\"receiptLineWidth\":20,\"response\":{\"Scr/Complete\":\"1\"}"),
            std::string::npos)
      << json;
}

TEST(CliJson, StatusSignatureAndLogLines) {
  EXPECT_EQ(statusJson(KOVStateAwaitingCardSwipe, std::nullopt, "INSERT CARD", "", std::string("CANCEL"), std::nullopt),
            "{\"state\":1,\"firstLine\":\"INSERT CARD\",\"secondLine\":\"\",\"button1\":\"CANCEL\",\"button2\":null,"
            "\"receipt\":null}");
  EXPECT_EQ(signatureReceiptJson(std::nullopt), "{\"signatureReceipt\":null}");
  EXPECT_EQ(signatureReceiptJson(std::string("R\r\n")), "{\"signatureReceipt\":\"R\\r\\n\"}");
  EXPECT_EQ(logJson(KOVTransactionLogEntryInfo, "KOV Timeout. Starting attempt 1"),
            "{\"log\":3,\"entry\":\"KOV Timeout. Starting attempt 1\"}");
  // Bytes that are not UTF-8 cannot break the line.
  EXPECT_EQ(logJson(KOVTransactionLogEntryResponseContent, "a\xFF"), "{\"log\":1,\"entry\":\"a\xEF\xBF\xBD\"}");
}
