#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include "core/KOVDocumentWriter.h"
#include "SampleDetails.h"

namespace {

std::shared_ptr<KOVTransactionDetails> fullRecord() {
  auto d = kovtest::sampleDetails();
  d->amount = KOVDecimal::parse("12.5");
  d->deviceId = "dev";
  d->posName = "Till";
  d->posVersion = "2.1";
  d->vendorId = "V9";
  d->merchantRef = "M7";
  return d;
}

class Documents : public ::testing::Test {
 protected:
  std::shared_ptr<KOVTransactionDetails> details = fullRecord();
  KOVTransactionType type = KOVTransactionTypePurchase;
  void use(KOVTransactionType t = KOVTransactionTypePurchase) { type = t; }
  std::optional<std::string> request() {
    return KOVDocumentWriter::transactionRequest(*details, KOVDocumentWriter::typeName(type), false);
  }
  std::string status() { return KOVDocumentWriter::statusRequest(*details, false); }
  std::string button(const std::string& name, const std::optional<std::string>& value) {
    return KOVDocumentWriter::buttonRequest(*details, name, value, false);
  }
};

}  // namespace

TEST_F(Documents, TransactionRequestHasEveryElementInOrder) {
  use();
  EXPECT_EQ(request(),
            "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>"
            "<Amount>12.50</Amount><Cur>AUD</Cur><TxnType>Purchase</TxnType><DeviceId>dev</DeviceId>"
            "<PosName>Till</PosName><PosVersion>2.1</PosVersion><VendorId>V9</VendorId><MRef>M7</MRef></Scr>");
}

TEST_F(Documents, NullAndEmptyFieldsAreWrittenDifferently) {
  details->posName.reset();
  details->deviceId = "";
  details->qelTxnRef = "";
  details->urlSuccess = "";
  details->urlFail = "https://fail.example/x?a=1&b=2";
  use();
  EXPECT_EQ(request(),
            "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>"
            "<Amount>12.50</Amount><Cur>AUD</Cur><TxnType>Purchase</TxnType><DeviceId></DeviceId>"
            "<PosName /><PosVersion>2.1</PosVersion><VendorId>V9</VendorId><MRef>M7</MRef>"
            "<UrlSuccess></UrlSuccess><UrlFail>https://fail.example/x?a=1&amp;b=2</UrlFail></Scr>");
  details->qelTxnRef = "Q42";
  details->urlSuccess.reset();
  const std::string text = *request();
  EXPECT_NE(text.find("<TxnRef>T-1</TxnRef><QelTxnRef>Q42</QelTxnRef><Station>"), std::string::npos);
  EXPECT_EQ(text.find("UrlSuccess"), std::string::npos);
}

TEST_F(Documents, HalfFilledRecordWritesEmptyCredentials) {
  details = std::make_shared<KOVTransactionDetails>();
  use(static_cast<KOVTransactionType>(7));
  EXPECT_EQ(request(),
            "<Scr action=\"doScrKOV\" user=\"\" key=\"\"><TxnRef /><Station /><Amount>0.00</Amount><Cur />"
            "<TxnType></TxnType><DeviceId /><PosName /><PosVersion /><VendorId /><MRef /></Scr>");
  EXPECT_EQ(status(),
            "<Scr action=\"doScrKOV\" user=\"\" key=\"\"><TxnRef /><Station /><TxnType>Status</TxnType></Scr>");
}

TEST_F(Documents, StatusAndButtonRequests) {
  use();
  EXPECT_EQ(status(),
            "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>"
            "<TxnType>Status</TxnType></Scr>");
  EXPECT_EQ(button("B1", std::string("OK")),
            "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>"
            "<TxnType>UI</TxnType><UiType>Bn</UiType><Name>B1</Name><Val>OK</Val></Scr>");
}

TEST_F(Documents, TextIsEscapedAndNonAsciiKept) {
  details->userName = "a\"b";
  details->key = "<&'>";
  details->merchantRef = "Café € 😀\nline";
  use();
  const std::string text = *request();
  EXPECT_NE(text.find("user=\"a&quot;b\" key=\"&lt;&amp;&#39;&gt;\""), std::string::npos);
  EXPECT_NE(text.find("<MRef>Café € 😀\nline</MRef>"), std::string::npos);
}

TEST(TypeNames, WireNamesAndErrorName) {
  const char* names[] = {"Purchase", "Auth", "Complete", "Refund", "Void"};
  for (uint32_t t = 0; t < 5; ++t) {
    EXPECT_EQ(WqKOV::txnTypeToStr(static_cast<KOVTransactionType>(t)), names[t]);
  }
  EXPECT_EQ(WqKOV::txnTypeToStr(static_cast<KOVTransactionType>(5)), "");
  EXPECT_EQ(WqKOV::txnTypeToStr(static_cast<KOVTransactionType>(0xFFFFFFFFu)), "");
}

struct AmountCase {
  const char* amount;  // nullptr: no amount
  const char* text;    // nullptr: refused
};

class AmountText : public ::testing::TestWithParam<AmountCase> {};

TEST_P(AmountText, CutsToCentsAndRefusesWhatDoesNotFit) {
  std::optional<KOVDecimal> amount;
  if (GetParam().amount) {
    amount = KOVDecimal::parse(GetParam().amount);
    ASSERT_TRUE(amount) << GetParam().amount;
  }
  const std::optional<std::string> text = WqKOV::decimalToString(amount);
  if (GetParam().text) {
    EXPECT_EQ(text, GetParam().text);
  } else {
    EXPECT_EQ(text, std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, AmountText,
    ::testing::Values(AmountCase{"12.5", "12.50"}, AmountCase{"0.07", "0.07"}, AmountCase{"100", "100.00"},
                      AmountCase{"12.345", "12.34"}, AmountCase{"12.349", "12.34"}, AmountCase{nullptr, "0.00"},
                      AmountCase{"-3.5", "-3.50"}, AmountCase{"-0.07", "-0.07"}, AmountCase{"-0.001", "0.00"},
                      AmountCase{"92233720368547758.07", "92233720368547758.07"},
                      AmountCase{"-92233720368547758.08", "-92233720368547758.08"},
                      AmountCase{"92233720368547758.08", nullptr}, AmountCase{"1000000000000000000000", nullptr}));

TEST_F(Documents, EveryRequestReadsBackToItsKeys) {
  details->qelTxnRef = "Q&1";
  details->urlSuccess = "";
  use();
  NSStringDictionary keys;
  ASSERT_TRUE(KOVXmlUtils::ParseXML(*request(), keys));
  EXPECT_EQ(keys, (NSStringDictionary{{"Scr/__action", "doScrKOV"}, {"Scr/__user", "merchant"},
                                      {"Scr/__key", "s3cret"}, {"Scr/TxnRef", "T-1"}, {"Scr/QelTxnRef", "Q&1"},
                                      {"Scr/Station", "ST01"}, {"Scr/Amount", "12.50"}, {"Scr/Cur", "AUD"},
                                      {"Scr/TxnType", "Purchase"}, {"Scr/DeviceId", "dev"}, {"Scr/PosName", "Till"},
                                      {"Scr/PosVersion", "2.1"}, {"Scr/VendorId", "V9"}, {"Scr/MRef", "M7"}}));
  ASSERT_TRUE(KOVXmlUtils::ParseXML(button("B2", std::string("Yes")), keys));
  EXPECT_EQ(keys.at("Scr/TxnType"), "UI");
  EXPECT_EQ(keys.at("Scr/UiType"), "Bn");
  EXPECT_EQ(keys.at("Scr/Name"), "B2");
  EXPECT_EQ(keys.at("Scr/Val"), "Yes");
}

TEST(SanitizeXml, MasksOnlyTheFirstKeyValue) {
  EXPECT_EQ(sanitizeXml("<Scr user=\"u\" key=\"abc\" />"), "<Scr user=\"u\" key=\"......\" />");
  EXPECT_EQ(sanitizeXml("<Scr key=\"\" />"), "<Scr key=\"......\" />");
  EXPECT_EQ(sanitizeXml("<Scr user=\"u\" />"), "<Scr user=\"u\" />");
  EXPECT_EQ(sanitizeXml("key=\"abc"), "key=\"abc");
  EXPECT_EQ(sanitizeXml("<a key=\"1\"><b key=\"2\" /></a>"), "<a key=\"......\"><b key=\"2\" /></a>");
}
