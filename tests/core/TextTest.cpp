#include <gtest/gtest.h>

#include <climits>

#include "util/KOVText.h"

using namespace kov::text;

struct IntCase {
  const char* text;
  int32_t value;
};

class IntValue : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntValue, ReadsLikeThePlatform) { EXPECT_EQ(intValue(GetParam().text), GetParam().value) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Table, IntValue,
                         ::testing::Values(IntCase{"12", 12}, IntCase{" 7", 7}, IntCase{"\t\n 8", 8},
                                           IntCase{"1.9", 1}, IntCase{"yes", 0}, IntCase{"", 0},
                                           IntCase{"-5", -5}, IntCase{"+3", 3}, IntCase{"  -12abc", -12},
                                           IntCase{"- 3", 0}, IntCase{"2147483647", INT32_MAX},
                                           IntCase{"2147483648", INT32_MAX}, IntCase{"-2147483648", INT32_MIN},
                                           IntCase{"-99999999999999999999", INT32_MIN},
                                           IntCase{"000045", 45}));

TEST(Text, LowercaseMapsFullUnicodeWithoutLocale) {
  EXPECT_EQ(lowercase("INSERT CARD"), "insert card");
  EXPECT_EQ(lowercase("SIGNATURE ÜBERPRÜFEN"), "signature überprüfen");
  EXPECT_EQ(lowercase("ΣΊΣΥΦΟΣ"), "σίσυφος");  // final sigma
  EXPECT_EQ(lowercase("PIN"), "pin");
  EXPECT_EQ(lowercase("I"), "i");  // no Turkish dotless i
}

TEST(Text, EqualsIgnoreCaseComparesTheWholeText) {
  EXPECT_TRUE(equalsIgnoreCase("YES", "yes"));
  EXPECT_TRUE(equalsIgnoreCase("Yes", "yes"));
  EXPECT_FALSE(equalsIgnoreCase(" yes", "yes"));
  EXPECT_FALSE(equalsIgnoreCase("yes ", "yes"));
  EXPECT_FALSE(equalsIgnoreCase("yess", "yes"));
  EXPECT_TRUE(equalsIgnoreCase("STRASSE", "straße"));
}

TEST(Text, InvalidUtf8IsReplacedAndValidTextKept) {
  EXPECT_EQ(validUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"), "caf\xC3\xA9 \xF0\x9F\x98\x80");
  EXPECT_EQ(validUtf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(validUtf8(std::string("a\0b", 3)), std::string("a\0b", 3));
}
