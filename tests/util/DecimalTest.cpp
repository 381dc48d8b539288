// Amounts: exact decimal text in, the same value printed and the whole cents it holds out.
#include <gtest/gtest.h>

#include <KOVModule/KOVDecimal.h>

#include <cstdint>
#include <limits>
#include <optional>

namespace {

struct AmountCase {
  const char* name;
  const char* text;
  const char* printed;  // nullptr: not a plain decimal number
  std::optional<int64_t> cents = std::nullopt;  // none: it does not fit in a signed 64-bit number of cents
};

class Amounts : public ::testing::TestWithParam<AmountCase> {};

TEST_P(Amounts, ParseExactlyAndCutToCentsTowardZero) {
  const auto& c = GetParam();
  const auto amount = KOVDecimal::parse(c.text);
  ASSERT_EQ(amount.has_value(), c.printed != nullptr) << c.text;
  if (!amount) return;
  EXPECT_EQ(amount->toString(), c.printed);
  EXPECT_EQ(KOVDecimal::parse(amount->toString()), amount) << "printing reads back to the same value";
  EXPECT_EQ(amount->scaledToInt64(2), c.cents);
}

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

INSTANTIATE_TEST_SUITE_P(
    Table, Amounts,
    ::testing::Values(
        AmountCase{.name = "OneDecimal", .text = "12.5", .printed = "12.5", .cents = 1250},
        AmountCase{.name = "NegativeCutTowardZero", .text = "-12.349", .printed = "-12.349", .cents = -1234},
        AmountCase{.name = "TrailingZeroDropped", .text = "-3.50", .printed = "-3.5", .cents = -350},
        AmountCase{.name = "NegativeCents", .text = "-0.07", .printed = "-0.07", .cents = -7},
        AmountCase{.name = "NegativeBelowACent", .text = "-0.001", .printed = "-0.001", .cents = 0},
        AmountCase{.name = "LeadingZeros", .text = "007.10", .printed = "7.1", .cents = 710},
        AmountCase{.name = "NegativeZero", .text = "-0", .printed = "0", .cents = 0},
        AmountCase{.name = "PlusSign", .text = "+4", .printed = "4", .cents = 400},
        AmountCase{.name = "NoWholeDigits", .text = ".5", .printed = "0.5", .cents = 50},
        AmountCase{.name = "NoFractionDigits", .text = "5.", .printed = "5", .cents = 500},
        // binary floating point would give 0.1 + 0.2 != 0.3; these digits stay exact
        AmountCase{.name = "MoreDigitsThanADouble", .text = "0.30000000000000000001",
                   .printed = "0.30000000000000000001", .cents = 30},
        AmountCase{.name = "LargestCents", .text = "92233720368547758.07", .printed = "92233720368547758.07",
                   .cents = kMax},
        AmountCase{.name = "SmallestCents", .text = "-92233720368547758.08", .printed = "-92233720368547758.08",
                   .cents = kMin},
        AmountCase{.name = "OneCentTooMany", .text = "92233720368547758.08", .printed = "92233720368547758.08"},
        AmountCase{.name = "PastSixtyFourBits", .text = "123456789012345678901234567890.1",
                   .printed = "123456789012345678901234567890.1"},
        // Not a plain decimal number: no digit, a character other than a digit (an Arabic-Indic
        // one too), a second point or sign.
        AmountCase{.name = "PointOnly", .text = ".", .printed = nullptr},
        AmountCase{.name = "Comma", .text = "12,50", .printed = nullptr},
        AmountCase{.name = "ArabicIndicDigit", .text = "\xD9\xA1", .printed = nullptr},
        AmountCase{.name = "SecondPoint", .text = "1.2.3", .printed = nullptr},
        AmountCase{.name = "SecondSign", .text = "--1", .printed = nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Amounts, ScaleIsKept) {
  EXPECT_EQ(KOVDecimal(1200, -1).toString(), "12000");
  EXPECT_EQ(*KOVDecimal::parse("007.10"), KOVDecimal(71, 1));
  // A host's refund built from negative cents, down to the smallest 64-bit mantissa.
  EXPECT_EQ(KOVDecimal(-1250, 2).toString(), "-12.5");
  EXPECT_EQ(KOVDecimal(kMin, 2).toString(), "-92233720368547758.08");
}

}  // namespace
