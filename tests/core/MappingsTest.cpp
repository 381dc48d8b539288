// The engine's pure mappings: the first line of an answer to a screen state, the response code to
// a result, an amount to the text a request carries, receipts to lines, endpoints to accepted or
// not.
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <tuple>

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

// The amount a request carries: whole cents, cut toward zero, with one leading minus sign; none
// is zero, and one that does not fit in 64 bits of cents is none.
TEST(Mappings, AmountsAreSentAsCentsWithTwoDigits) {
  const std::pair<const char*, std::optional<std::string>> table[] = {
      {"12.5", "12.50"},   {"100", "100.00"}, {"-12.349", "-12.34"}, {"-0.07", "-0.07"}, {"-0.001", "0.00"},
      {"-92233720368547758.08", "-92233720368547758.08"}, {"92233720368547758.08", std::nullopt}};
  for (const auto& [amount, text] : table) EXPECT_EQ(WqKOV::decimalToString(KOVDecimal::parse(amount)), text) << amount;
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
