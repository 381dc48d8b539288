// Amounts: exact decimal text in, the same value printed and the cents the request carries out.
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <limits>

namespace {

struct AmountCase {
  const char* text;
  const char* printed;  // nullptr: not a plain decimal number
  const char* cents;    // nullptr: refused, it does not fit in a signed 64-bit number of cents
};

class Amounts : public ::testing::TestWithParam<AmountCase> {};

TEST_P(Amounts, ParseExactlyAndCutToCentsTowardZero) {
  const auto& c = GetParam();
  const auto amount = KOVDecimal::parse(c.text);
  ASSERT_EQ(amount.has_value(), c.printed != nullptr) << c.text;
  if (!amount) return;
  EXPECT_EQ(amount->toString(), c.printed);
  EXPECT_EQ(KOVDecimal::parse(amount->toString()), amount) << "printing reads back to the same value";
  EXPECT_EQ(WqKOV::decimalToString(amount), c.cents ? std::optional<std::string>(c.cents) : std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Amounts,
    ::testing::Values(
        AmountCase{"12.5", "12.5", "12.50"}, AmountCase{"0.07", "0.07", "0.07"}, AmountCase{"100", "100", "100.00"},
        AmountCase{"12.345", "12.345", "12.34"}, AmountCase{"-12.349", "-12.349", "-12.34"},
        AmountCase{"-3.50", "-3.5", "-3.50"}, AmountCase{"-0.07", "-0.07", "-0.07"},
        AmountCase{"-0.001", "-0.001", "0.00"}, AmountCase{"007.10", "7.1", "7.10"}, AmountCase{"-0", "0", "0.00"},
        AmountCase{"+4", "4", "4.00"}, AmountCase{".5", "0.5", "0.50"}, AmountCase{"5.", "5", "5.00"},
        // binary floating point would give 0.1 + 0.2 != 0.3; these digits stay exact
        AmountCase{"0.30000000000000000001", "0.30000000000000000001", "0.30"},
        AmountCase{"92233720368547758.07", "92233720368547758.07", "92233720368547758.07"},
        AmountCase{"-92233720368547758.08", "-92233720368547758.08", "-92233720368547758.08"},
        AmountCase{"92233720368547758.08", "92233720368547758.08", nullptr},
        AmountCase{"123456789012345678901234567890.1", "123456789012345678901234567890.1", nullptr},
        // Not a plain decimal number: no digit, a character other than a digit (an Arabic-Indic
        // one too), a second point or sign.
        AmountCase{"", nullptr, nullptr}, AmountCase{".", nullptr, nullptr}, AmountCase{"12,50", nullptr, nullptr},
        AmountCase{"1 ", nullptr, nullptr}, AmountCase{"\xD9\xA1", nullptr, nullptr},
        AmountCase{"1.2.3", nullptr, nullptr}, AmountCase{"--1", nullptr, nullptr}));

TEST(Amounts, NoAmountIsZeroAndScaleIsKept) {
  EXPECT_EQ(WqKOV::decimalToString(std::nullopt), "0.00");
  EXPECT_EQ(KOVDecimal(1200, -1).toString(), "12000");
  EXPECT_EQ(*KOVDecimal::parse("007.10"), KOVDecimal(71, 1));
  // A host's refund built from negative cents, down to the smallest 64-bit mantissa.
  EXPECT_EQ(KOVDecimal(-1250, 2).toString(), "-12.5");
  EXPECT_EQ(KOVDecimal(std::numeric_limits<int64_t>::min(), 2).toString(), "-92233720368547758.08");
  EXPECT_EQ(KOVDecimal::parse("0.000000000000000000000000000000001")->scaledToInt64(2), 0);
}

}  // namespace
