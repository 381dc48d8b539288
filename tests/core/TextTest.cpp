#include <gtest/gtest.h>

#include <climits>

#include <KOVModule/WqKOV.h>

#include "util/KOVText.h"

using namespace kov::text;

struct IntCase {
  const char* text;
  int32_t value;
};

class IntValue : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntValue, ReadsLikeThePlatform) { EXPECT_EQ(intValue(GetParam().text), GetParam().value) << GetParam().text; }

INSTANTIATE_TEST_SUITE_P(Table, IntValue,
                         ::testing::Values(IntCase{"\t\n 8", 8}, IntCase{"yes", 0}, IntCase{"-5", -5}, IntCase{"+3", 3},
                                           IntCase{"  -12abc", -12}, IntCase{"- 3", 0}, IntCase{"000045", 45},
                                           IntCase{"2147483648", INT32_MAX}, IntCase{"-99999999999999999999", INT32_MIN}));

struct SegmentCase {
  const char* text;  // nullptr: no text
  int width;
  const char* lines;  // nullptr: no text
};

class Segments : public ::testing::TestWithParam<SegmentCase> {};

TEST_P(Segments, CutByUtf16UnitsAndAlwaysEnd) {
  const auto& c = GetParam();
  const auto text = c.text ? std::optional<std::string>(c.text) : std::nullopt;
  EXPECT_EQ(WqKOV::segmentString(text, c.width), c.lines ? std::optional<std::string>(c.lines) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Segments,
    ::testing::Values(SegmentCase{nullptr, 4, nullptr}, SegmentCase{"", 4, nullptr},
                      SegmentCase{"ABCDEFGHIJ", 4, "ABCD\r\nEFGH\r\nIJ\r\n"},
                      SegmentCase{"ABCDEFGHIJ", 5, "ABCDE\r\nFGHIJ\r\n"},
                      SegmentCase{"ABCDEFGHIJ", 20, "ABCDEFGHIJ\r\n"}, SegmentCase{"AB\nCD", 3, "AB\n\r\nCD\r\n"},
                      SegmentCase{"ABC", 0, "ABC\r\n"}, SegmentCase{"ABC", -3, "ABC\r\n"},
                      // two- and three-byte characters are one unit each
                      SegmentCase{"\xC3\xA9\xC3\xA9\xE2\x82\xAC", 2, "\xC3\xA9\xC3\xA9\r\n\xE2\x82\xAC\r\n"},
                      // outside the basic plane: two units, never cut in half
                      SegmentCase{"a\xF0\x9F\x98\x80" "b", 2, "a\xF0\x9F\x98\x80\r\nb\r\n"},
                      SegmentCase{"\xF0\x9F\x98\x80\xF0\x9F\x98\x80", 1,
                                  "\xF0\x9F\x98\x80\r\n\xF0\x9F\x98\x80\r\n"}));
