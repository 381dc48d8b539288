// The text helpers the engine reads answers with: integers read like the platform's, texts
// handed on as valid UTF-8, case folded by Unicode rules.
#include <gtest/gtest.h>

#include <climits>
#include <tuple>
#include <utility>

#include "util/KOVText.h"

TEST(Text, IntegersReadLikeThePlatform) {
  const std::pair<const char*, int32_t> table[] = {
      {"\t\n 8", 8},         {"yes", 0}, {"-5", -5}, {"+3", 3}, {"  -12abc", -12}, {"- 3", 0}, {"000045", 45},
      {"2147483648", INT32_MAX}, {"-99999999999999999999", INT32_MIN}};
  for (const auto& [text, value] : table) EXPECT_EQ(kov::text::intValue(text), value) << text;
}

TEST(Text, HandedOnIsValidUtf8WithEveryValidByteKept) {
  EXPECT_EQ(kov::text::validUtf8(std::string("caf\xC3\xA9\0\xF0\x9F\x98\x80", 10)),
            std::string("caf\xC3\xA9\0\xF0\x9F\x98\x80", 10));
  EXPECT_EQ(kov::text::validUtf8("a\xFF" "b\xED\xA0\x80"), "a\xEF\xBF\xBD" "b\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
}

// Full case mapping in the root locale, whatever the text's bytes: ASCII takes a path of its own.
TEST(Text, CaseIsFoldedByUnicodeRules) {
  const std::pair<const char*, const char*> lowered[] = {
      {"ENTER PIN", "enter pin"}, {"PIN \xC3\x89" "CRAN", "pin \xC3\xA9" "cran"}, {"S\xC4\xB0GN", "si\xCC\x87gn"}};
  for (const auto& [text, lower] : lowered) EXPECT_EQ(kov::text::lowercase(text), lower) << text;
  const std::tuple<const char*, const char*, bool> equal[] = {
      {"YES", "yes", true}, {"YES", "YES ", false}, {"\xC3\x89" "CRAN", "\xC3\xA9" "cran", true},
      {"\xC3\x89", "E", false}};
  for (const auto& [a, b, same] : equal) EXPECT_EQ(kov::text::equalsIgnoreCase(a, b), same) << a << " " << b;
}
