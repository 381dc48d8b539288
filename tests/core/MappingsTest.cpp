// The pure mappings answers are read with: the first line to a screen state, the response code
// to a result, texts to integers and valid UTF-8, receipts to lines, endpoints to accepted or not.
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <climits>
#include <tuple>

#include "util/KOVText.h"

TEST(Mappings, FirstLineGivesTheScreenState) {
  const std::tuple<const char*, bool, KOVState> table[] = {
      {"INSERT OR SWIPE CARD", false, KOVStateAwaitingCardSwipe}, {"", false, KOVStateError},
      {"SELECT ACCOUNT", false, KOVStateAwaitingAccountSelection}, {"ENTER PIN", false, KOVStateAwaitingPINEntry},
      {"PROCESSING", false, KOVStateProcessing}, {"SIGNATURE OK?", false, KOVStateSignatureRequired},
      {"REMOVE CARD", false, KOVStateError}, {"PIN OK, PROCESSING", false, KOVStateAwaitingPINEntry},
      {"spinning", false, KOVStateAwaitingPINEntry}, {"ACCEPTED", false, KOVStateError},
      {"ACCEPTED", true, KOVStateAccepted}, {"Declined by bank", true, KOVStateDeclined},
      {"CANCELLED", true, KOVStateCancelled}, {"DECLINED, CANCEL", true, KOVStateDeclined},
      {"INSERT", true, KOVStateError},
      // Non-ASCII lines take the full case mapping: capital dotted I lowers to i plus a
      // combining dot, so the word is not found.
      {"\xC3\x89" "CRAN ENTER PIN", false, KOVStateAwaitingPINEntry}, {"S\xC4\xB0GNATURE", false, KOVStateError}};
  for (const auto& [line, completed, state] : table) EXPECT_EQ(WqKOV::stateLineToState(line, completed), state) << line;
}

TEST(Mappings, ResponseCodesMapCaseInsensitively) {
  const std::pair<const char*, KOVTransactionResult> table[] = {
      {"P7", KOVTransactionResultInvalidTransactionType}, {"p8", KOVTransactionResultUserKeyNotMatched},
      {"P9", KOVTransactionResultStationPrefixError},      {"PB", KOVTransactionResultSessionInitError},
      {"pC", KOVTransactionResultExistingRequestInProgress}, {"PD", KOVTransactionResultTransmitError},
      {"pg", KOVTransactionResultSessionInitError},        {"PH", KOVTransactionResultUserIDNotMatched},
      {"TQ", KOVTransactionResultTerminalNotConnected},    {"05", KOVTransactionResultFailed},
      {"", KOVTransactionResultFailed},                    {" p8", KOVTransactionResultFailed}};
  for (const auto& [reco, result] : table) EXPECT_EQ(WqKOV::reCoToResultType(reco), result) << reco;
}

TEST(Mappings, IntegersReadLikeThePlatform) {
  const std::pair<const char*, int32_t> table[] = {
      {"\t\n 8", 8},         {"yes", 0}, {"-5", -5}, {"+3", 3}, {"  -12abc", -12}, {"- 3", 0}, {"000045", 45},
      {"2147483648", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
  for (const auto& [text, value] : table) EXPECT_EQ(kov::text::intValue(text), value) << text;
}

TEST(Mappings, TextsHandedOnAreValidUtf8WithEveryValidByteKept) {
  EXPECT_EQ(kov::text::validUtf8(std::string("caf\xC3\xA9\0\xF0\x9F\x98\x80", 10)),
            std::string("caf\xC3\xA9\0\xF0\x9F\x98\x80", 10));
  EXPECT_EQ(kov::text::validUtf8("a\xFF" "b\xED\xA0\x80"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Mappings, ReceiptsAreCutByUtf16UnitsAndEveryLineEnds) {
  const std::tuple<std::optional<std::string>, int, std::optional<std::string>> table[] = {
      {std::nullopt, 4, std::nullopt}, {"", 4, std::nullopt}, {"ABCDEFGHIJ", 4, "ABCD\r\nEFGH\r\nIJ\r\n"},
      {"ABCDEFGHIJ", 5, "ABCDE\r\nFGHIJ\r\n"}, {"ABCDEFGHIJ", 20, "ABCDEFGHIJ\r\n"}, {"AB\nCD", 3, "AB\n\r\nCD\r\n"},
      {"ABC", 0, "ABC\r\n"}, {"ABC", -3, "ABC\r\n"},
      // two- and three-byte characters are one unit each; outside the basic plane two, never cut
      {"\xC3\xA9\xC3\xA9\xE2\x82\xAC", 2, "\xC3\xA9\xC3\xA9\r\n\xE2\x82\xAC\r\n"},
      {"a\xF0\x9F\x98\x80" "b", 2, "a\xF0\x9F\x98\x80\r\nb\r\n"},
      {"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 1, "\xF0\x9F\x98\x80\r\n\xF0\x9F\x98\x80\r\n"},
      // long ASCII runs with a character of two and one of four bytes inside them
      {"ABCDEFGHIJ\xC3\xA9KLMNOPQRSTUV", 12, "ABCDEFGHIJ\xC3\xA9K\r\nLMNOPQRSTUV\r\n"},
      {"ABCDEFGHIJK\xF0\x9F\x98\x80LMNOPQRSTUVWXYZ", 12, "ABCDEFGHIJK\xF0\x9F\x98\x80\r\nLMNOPQRSTUVW\r\nXYZ\r\n"}};
  for (const auto& [text, width, lines] : table) {
    EXPECT_EQ(WqKOV::segmentString(text, width), lines) << text.value_or("(none)") << " " << width;
  }
}

TEST(Mappings, HttpsAnywhereAndHttpOnlyForLoopback) {
  const std::pair<const char*, bool> table[] = {
      {"HTTPS://cert.example.com:8443/wqmi3/pos.aspx", true}, {"http://127.9.0.1/", true},
      {"http://LocalHost:9/wqmi3/pos.aspx", true},       {"http://[::1]:8080/", true},
      {"http://192.168.1.5/wqmi3/pos.aspx", false},      {"https://a b/", false},
      {"http://127.0.0.1.evil.example/", false},         {"https:///path", false},
      {"http://127.0.0.1@evil.example/", false},         {"ftp://127.0.0.1/", false},
      {"http://example.com/", false},                    {"http://127.0.0.1:99999/x", false},
      {"http://127.0.0.1:0/", false},                    {"https://pay.example:65535/", true},
      {"http://127.0.0.1:/x", true},                     {"https://pay.example:8a/", false},
      {"http://[::1]x/", false}};
  for (const auto& [url, accepted] : table) {
    std::string why;
    EXPECT_EQ(WqKOV::isAcceptableEndpointUrl(url, &why), accepted) << url;
    EXPECT_EQ(why.empty(), accepted) << url;
  }
}
