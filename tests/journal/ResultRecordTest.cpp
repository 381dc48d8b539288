// The result record from the final answer to its JSON line: each key of the answer in its
// field, under its name, in the record's order, texts kept byte for byte.
#include <KOVModule/KOVResultJson.h>
#include <gtest/gtest.h>

#include <string>

#include "core/KOVAnswerDecoder.h"

namespace {

struct LineCase {
  const char* name;
  NSStringDictionary answer;  // besides "Scr/Result/Complete"
  const char* line;           // with the answer left out of "response"
};

class FinalAnswer : public testing::TestWithParam<LineCase> {};

TEST_P(FinalAnswer, GivesTheRecordOfThisLine) {
  auto answer = std::make_shared<NSStringDictionary>(GetParam().answer);
  answer->emplace("Scr/Result/Complete", "1");
  KOVTransactionResultDetails record = KOVAnswerDecoder::resultOf(answer);
  EXPECT_EQ(record.response, answer);
  record.response.reset();
  const std::string line = kov::ResultJson::toJson(record);
  EXPECT_EQ(line, GetParam().line);
  const std::optional<KOVTransactionResultDetails> read = kov::ResultJson::fromJson(line);
  ASSERT_TRUE(read);
  EXPECT_EQ(kov::ResultJson::toJson(*read), line);
}

INSTANTIATE_TEST_SUITE_P(
    ResultRecord, FinalAnswer,
    testing::Values(
        LineCase{"EveryKeyInItsField",
                 {{"Scr/Result/AC", "AC"}, {"Scr/Result/CN", "CN"}, {"Scr/Result/CT", "CAF\xC3\x89"},
                  {"Scr/Result/DS", "DS"}, {"Scr/Result/DS_TZ", "DS_TZ"}, {"Scr/Result/DT", "DT"},
                  {"Scr/Result/DT_TZ", "DT_TZ"}, {"Scr/Result/PIX", "PIX"}, {"Scr/Result/RID", "RID"},
                  {"Scr/Result/RRN", "RRN"}, {"Scr/Result/TR", "TR"}, {"Scr/Result/CN2", "CN2"},
                  {"Scr/Result/DBID", "DBID"}, {"Scr/Result/RT", "RT"}, {"Scr/Result/RC", "PB"},
                  {"Scr/Result/Rcpt", "ABCDEFGHIJ"}, {"Scr/Result/RcptW", "4"}, {"Scr/Result/AP", "0"}},
                 R"({"transactionResult":7,"authCode":"AC","maskedCardNumber":"CN","cardName":"CAF)"
                 "\xC3\x89"
                 R"(","expectedSettlementDate":"DS","expectedSettlementDateTimeZone":"DS_TZ",)"
                 R"("transactionDate":"DT","transactionDateTimeZone":"DT_TZ","PIX":"PIX","RID":"RID",)"
                 R"("retrievalRefNumber":"RRN","qelTxnRef":"TR","responseText":"RT","reCo":"PB",)"
                 R"("receipt":"ABCD\r\nEFGH\r\nIJ\r\n","receiptLineWidth":4,"response":null,)"
                 R"("cardNumber2":"CN2","qelBillingId":"DBID"})"},
        LineCase{"NoResultKeys",
                 {},
                 R"({"transactionResult":1,"authCode":"","maskedCardNumber":"","cardName":"",)"
                 R"("expectedSettlementDate":"","expectedSettlementDateTimeZone":"","transactionDate":"",)"
                 R"("transactionDateTimeZone":"","PIX":"","RID":"","retrievalRefNumber":"","qelTxnRef":"",)"
                 R"("responseText":"","reCo":"","receipt":null,"receiptLineWidth":20,"response":null,)"
                 R"("cardNumber2":"","qelBillingId":""})"}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

}  // namespace
