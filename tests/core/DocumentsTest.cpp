// The three requests byte for byte: what the service reads is exactly what these rows say.
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <functional>

#include "SampleDetails.h"
#include "core/KOVDocumentWriter.h"

namespace {

const std::string kHead =
    "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>";
const std::string kFull =
    "<Amount>12.50</Amount><Cur>AUD</Cur><TxnType>Purchase</TxnType><DeviceId>dev</DeviceId>"
    "<PosName>Till</PosName><PosVersion>2.1</PosVersion><VendorId>V9</VendorId><MRef>M7</MRef>";

struct DocumentCase {
  const char* name;
  std::function<void(KOVTransactionDetails&)> change;
  // "txn" (a purchase unless the change says otherwise), "status", "button" (B1 pressed with
  // OK)
  const char* kind;
  std::string expected;  // nullopt written as "(none)"
  bool maskKey = false;
  KOVTransactionType type = KOVTransactionTypePurchase;
};

void PrintTo(const DocumentCase& c, std::ostream* out) { *out << c.name; }

class Documents : public ::testing::TestWithParam<DocumentCase> {};

TEST_P(Documents, AreWrittenExactly) {
  const auto& c = GetParam();
  auto d = kovtest::sampleDetails();
  d->deviceId = "dev";
  d->posName = "Till";
  d->posVersion = "2.1";
  d->vendorId = "V9";
  d->merchantRef = "M7";
  if (c.change) c.change(*d);
  const std::string kind = c.kind;
  std::optional<std::string> text;
  if (kind == "txn") text = KOVDocumentWriter::transactionRequest(*d, KOVDocumentWriter::typeName(c.type), c.maskKey);
  if (kind == "status") text = KOVDocumentWriter::statusRequest(*d, c.maskKey);
  if (kind == "button") text = KOVDocumentWriter::buttonRequest(*d, "B1", std::string("OK"), c.maskKey);
  EXPECT_EQ(text.value_or("(none)"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Documents,
    ::testing::Values(
        DocumentCase{"TransactionInOrder", nullptr, "txn", kHead + kFull + "</Scr>"},
        DocumentCase{.name = "KeyMaskedForTheLog", .change = nullptr, .kind = "txn",
                     .expected = "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"......\"><TxnRef>T-1</TxnRef>"
                                 "<Station>ST01</Station>" + kFull + "</Scr>",
                     .maskKey = true},
        DocumentCase{"NullAndEmptyDifferAndTheQelReferenceFollowsTheReference",
                     [](auto& d) {
                       d.posName.reset();
                       d.deviceId = "";
                       d.urlSuccess = "";
                       d.urlFail = "https://fail.example/x?a=1&b=2";
                       d.qelTxnRef = "Q42";
                     },
                     "txn",
                     "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef>"
                     "<QelTxnRef>Q42</QelTxnRef><Station>ST01</Station><Amount>12.50</Amount><Cur>AUD</Cur>"
                     "<TxnType>Purchase</TxnType><DeviceId></DeviceId><PosName /><PosVersion>2.1</PosVersion>"
                     "<VendorId>V9</VendorId><MRef>M7</MRef><UrlSuccess></UrlSuccess>"
                     "<UrlFail>https://fail.example/x?a=1&amp;b=2</UrlFail></Scr>"},
        DocumentCase{"EscapedAndNonAsciiKept",
                     [](auto& d) {
                       d.userName = "a\"b";
                       d.key = "<&'>";
                       d.merchantRef = "Caf\xC3\xA9 \xF0\x9F\x98\x80\nline";
                       d.txnRef = "T<1>";
                     },
                     "txn",
                     "<Scr action=\"doScrKOV\" user=\"a&quot;b\" key=\"&lt;&amp;&#39;&gt;\"><TxnRef>T&lt;1&gt;</TxnRef>"
                     "<Station>ST01</Station><Amount>12.50</Amount><Cur>AUD</Cur><TxnType>Purchase</TxnType>"
                     "<DeviceId>dev</DeviceId><PosName>Till</PosName><PosVersion>2.1</PosVersion><VendorId>V9"
                     "</VendorId><MRef>Caf\xC3\xA9 \xF0\x9F\x98\x80\nline</MRef></Scr>"},
        DocumentCase{.name = "EmptyRecordAndUnknownType", .change = [](auto& d) { d = KOVTransactionDetails{}; },
                     .kind = "txn",
                     .expected = "<Scr action=\"doScrKOV\" user=\"\" key=\"\"><TxnRef /><Station />"
                                 "<Amount>0.00</Amount><Cur /><TxnType></TxnType><DeviceId /><PosName /><PosVersion />"
                                 "<VendorId /><MRef /></Scr>",
                     .type = static_cast<KOVTransactionType>(7)},
        DocumentCase{"AmountThatDoesNotFit", [](auto& d) { d.amount = KOVDecimal::parse("1000000000000000000000"); },
                     "txn", "(none)"},
        DocumentCase{"Status", nullptr, "status", kHead + "<TxnType>Status</TxnType></Scr>"},
        DocumentCase{"Button", nullptr, "button",
                     kHead + "<TxnType>UI</TxnType><UiType>Bn</UiType><Name>B1</Name><Val>OK</Val></Scr>"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TypeNames, WireNamesAndErrorName) {
  const char* names[] = {"Purchase", "Auth", "Complete", "Refund", "Void", ""};
  for (uint32_t t = 0; t < 6; ++t) EXPECT_EQ(WqKOV::txnTypeToStr(static_cast<KOVTransactionType>(t)), names[t]);
  EXPECT_EQ(WqKOV::txnTypeToStr(static_cast<KOVTransactionType>(0xFFFFFFFFu)), "");
}

TEST(SanitizeXml, MasksOnlyTheFirstKeyValue) {
  EXPECT_EQ(sanitizeXml("<Scr user=\"u\" key=\"abc\" />"), "<Scr user=\"u\" key=\"......\" />");
  EXPECT_EQ(sanitizeXml("<Scr key=\"\" />"), "<Scr key=\"......\" />");
  EXPECT_EQ(sanitizeXml("<Scr user=\"u\" />"), "<Scr user=\"u\" />");
  EXPECT_EQ(sanitizeXml("key=\"abc"), "key=\"abc");
  EXPECT_EQ(sanitizeXml("<a key=\"1\"><b key=\"2\" /></a>"), "<a key=\"......\"><b key=\"2\" /></a>");
}

}  // namespace
