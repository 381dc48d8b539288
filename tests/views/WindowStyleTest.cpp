#include <gtest/gtest.h>

#include <QFontDatabase>

#include <KOVModule/KOVWindowStyle.h>

namespace {

QString systemFamily() {
  return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

TEST(WindowStyle, DefaultHoldsTheListedValuesAndIsShared) {
  const auto style = KOVWindowStyle::getDefault();
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(KOVWindowStyle::getDefault(), style);  // the same object every time

  EXPECT_TRUE(style->showLogo);
  EXPECT_TRUE(style->showActivityIndicator);
  EXPECT_EQ(style->backgroundColor, QColor(255, 255, 255, 255));
  EXPECT_EQ(style->buttonsColor, QColor(255, 0, 0, 255));
  EXPECT_EQ(style->activityIndicatorColor, QColor(255, 0, 0, 255));
  EXPECT_EQ(style->buttonsTextColor, QColor(255, 255, 255, 255));
  EXPECT_EQ(style->buttonsCornerRadius, 0);
  EXPECT_EQ(style->informationTextColor, QColor(0, 0, 0, 255));
  ASSERT_TRUE(style->buttonsFont.has_value());
  EXPECT_EQ(style->buttonsFont->pixelSize(), 17);
  EXPECT_EQ(style->buttonsFont->family(), systemFamily());
  ASSERT_TRUE(style->informationFont.has_value());
  EXPECT_EQ(style->informationFont->pixelSize(), 19);
  EXPECT_EQ(style->informationFont->family(), systemFamily());
}

TEST(WindowStyle, CloneIsEqualButIndependent) {
  const auto original = KOVWindowStyle::getDefault();
  const auto copy = original->clone();
  ASSERT_NE(copy, original);
  EXPECT_EQ(copy->showLogo, original->showLogo);
  EXPECT_EQ(copy->buttonsColor, original->buttonsColor);
  EXPECT_EQ(copy->informationFont, original->informationFont);

  copy->showLogo = false;
  copy->backgroundColor = QColor(Qt::black);
  copy->buttonsFont->setPixelSize(40);
  copy->activityIndicatorColor.reset();
  EXPECT_TRUE(original->showLogo);
  EXPECT_EQ(original->backgroundColor, QColor(Qt::white));
  EXPECT_EQ(original->buttonsFont->pixelSize(), 17);
  EXPECT_EQ(original->activityIndicatorColor, QColor(Qt::red));
}

}  // namespace
