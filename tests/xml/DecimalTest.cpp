#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

TEST(Decimal, ParsesPlainDecimalTextOnly) {
  for (const char* good : {"12.345", "0.07", "100", "-3.5", "+4", ".5", "5.", "007.10", "-0"}) {
    EXPECT_TRUE(KOVDecimal::parse(good).has_value()) << good;
  }
  for (const char* bad : {"", "1e5", "12,50", " 1", "1 ", "1.2.3", "-", "+", ".", "--1", "0x10", "1_000", "NaN",
                          "inf", "\xD9\xA1"}) {
    EXPECT_FALSE(KOVDecimal::parse(bad).has_value()) << bad;
  }
}

TEST(Decimal, ExactValuesCompareAndPrint) {
  EXPECT_EQ(*KOVDecimal::parse("12.50"), *KOVDecimal::parse("12.5"));
  EXPECT_EQ(*KOVDecimal::parse("007.10"), KOVDecimal(71, 1));
  EXPECT_EQ(*KOVDecimal::parse("-0"), KOVDecimal());
  EXPECT_EQ(KOVDecimal(1200, -1).toString(), "12000");
  EXPECT_EQ(KOVDecimal::parse("-3.50")->toString(), "-3.5");
  EXPECT_EQ(KOVDecimal::parse("0.07")->toString(), "0.07");
  // Binary floating point would give 0.1 + 0.2 != 0.3; these digits stay exact.
  EXPECT_EQ(KOVDecimal::parse("0.30000000000000000001")->toString(), "0.30000000000000000001");
  for (const char* text : {"123456789012345678901234567890.123456789", "-0.000001", "42"}) {
    EXPECT_EQ(KOVDecimal::parse(KOVDecimal::parse(text)->toString()), KOVDecimal::parse(text)) << text;
  }
}

TEST(Decimal, ScalesIntoCentsCuttingTowardZeroOrRefuses) {
  EXPECT_EQ(KOVDecimal::parse("12.345")->scaledToInt64(2), 1234);
  EXPECT_EQ(KOVDecimal::parse("-12.349")->scaledToInt64(2), -1234);
  EXPECT_EQ(KOVDecimal::parse("0.009")->scaledToInt64(2), 0);
  EXPECT_EQ(KOVDecimal::parse("92233720368547758.07")->scaledToInt64(2), INT64_MAX);
  EXPECT_EQ(KOVDecimal::parse("-92233720368547758.08")->scaledToInt64(2), INT64_MIN);
  EXPECT_EQ(KOVDecimal::parse("92233720368547758.08")->scaledToInt64(2), std::nullopt);
  EXPECT_EQ(KOVDecimal::parse("99999999999999999999999")->scaledToInt64(2), std::nullopt);
  EXPECT_EQ(KOVDecimal::parse("0.000000000000000000000000000000001")->scaledToInt64(2), 0);
}
