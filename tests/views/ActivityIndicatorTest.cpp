#include <gtest/gtest.h>

#include <memory>

#include <QImage>
#include <QPointer>
#include <QTest>

#include <KOVModule/KOVHorzActivityIndicator.h>

namespace {

constexpr int kBoundedWaitMs = 5000;

QColor expectedDefaultColor() {
  return QColor::fromRgbF(1.0f, 10.0f / 255.0f, 10.0f / 255.0f, 1.0f);
}

class ActivityIndicator : public ::testing::Test {
 protected:
  void SetUp() override {
    indicator = std::make_unique<KOVHorzActivityIndicator>();
    indicator->resize(300, 8);
  }
  std::unique_ptr<KOVHorzActivityIndicator> indicator;
};

TEST_F(ActivityIndicator, StartsStoppedWithDefaultLook) {
  EXPECT_FALSE(indicator->IsPlayingAnimation());
  EXPECT_FALSE(indicator->isTimerActive());
  EXPECT_EQ(indicator->lineColor(), expectedDefaultColor());
  EXPECT_EQ(indicator->lineWidth(), 2.0f);
  EXPECT_EQ(indicator->trackColor().alpha(), 0);
}

TEST_F(ActivityIndicator, TrackComesFromTheLineColourAtTheNextStart) {
  indicator->setLineColor(QColor(0, 0, 255), 3.0f, true);
  EXPECT_EQ(indicator->lineWidth(), 3.0f);
  EXPECT_EQ(indicator->trackColor().alpha(), 0);  // not before the next start
  indicator->startAnimation();
  QColor track(0, 0, 255);
  track.setAlphaF(0.3f);
  EXPECT_EQ(indicator->trackColor(), track);

  indicator->setLineColor(QColor(0, 255, 0), 2.0f, false);
  EXPECT_EQ(indicator->trackColor(), track);
  indicator->startAnimation();
  EXPECT_EQ(indicator->trackColor().alpha(), 0);
  EXPECT_EQ(indicator->lineColor(), QColor(0, 255, 0));
}

TEST_F(ActivityIndicator, TimerRunsOnlyWhilePlayingAndShown) {
  // Stopping a stopped indicator only clears the flag.
  indicator->stopAnimation();
  EXPECT_FALSE(indicator->IsPlayingAnimation());

  // Not on screen yet: playing, but no timer until it is shown.
  indicator->startAnimation();
  EXPECT_TRUE(indicator->IsPlayingAnimation());
  EXPECT_FALSE(indicator->isTimerActive());
  indicator->show();
  EXPECT_TRUE(indicator->isTimerActive());

  // Real ticks arrive from the timer.
  EXPECT_TRUE(QTest::qWaitFor([&] { return indicator->firstLine().lineState == LineStateStartGoes; }, kBoundedWaitMs));

  indicator->hide();
  EXPECT_FALSE(indicator->isTimerActive());
  EXPECT_TRUE(indicator->IsPlayingAnimation());
  indicator->show();
  EXPECT_TRUE(indicator->isTimerActive());

  indicator->stopAnimation();
  EXPECT_FALSE(indicator->IsPlayingAnimation());
  EXPECT_FALSE(indicator->isTimerActive());
  const LineInfo kept = indicator->firstLine();
  indicator->hide();
  indicator->show();
  EXPECT_FALSE(indicator->isTimerActive());
  EXPECT_EQ(indicator->firstLine().lineState, kept.lineState);  // stopping does not reset
  EXPECT_EQ(indicator->firstLine().startX, kept.startX);
}

TEST_F(ActivityIndicator, RestartBeginsBothSegmentsAgainWithOneTimer) {
  indicator->show();
  indicator->startAnimation();
  for (int i = 0; i < 120; ++i) indicator->doFrame();
  EXPECT_EQ(indicator->firstLine().lineState, LineStateBothGo);
  EXPECT_EQ(indicator->secondLine().lineState, LineStateStartGoes);
  indicator->startAnimation();
  EXPECT_TRUE(indicator->isTimerActive());
  EXPECT_EQ(indicator->firstLine().lineState, LineStateWaiting);
  EXPECT_EQ(indicator->firstLine().pause, 0.0);
  EXPECT_EQ(indicator->secondLine().lineState, LineStateWaiting);
  EXPECT_EQ(indicator->secondLine().pause, 1.0);
  indicator->stopAnimation();
  EXPECT_FALSE(indicator->isTimerActive());
}

TEST_F(ActivityIndicator, PaintsMovingSegmentsOnTheCentreLineOverTheTrack) {
  indicator->setLineColor(QColor(0, 0, 255), 2.0f, true);
  indicator->startAnimation();
  indicator->stopAnimation();  // drive the ticks by hand
  const QImage waiting = indicator->grab().toImage();
  for (int i = 0; i < 60; ++i) indicator->doFrame();
  const LineInfo& line = indicator->firstLine();
  ASSERT_EQ(line.lineState, LineStateBothGo);
  const QImage image = indicator->grab().toImage();
  const int y = 4;
  const QColor onLine = image.pixelColor(static_cast<int>((line.startX + line.endX) / 2), y);
  const QColor offLine = image.pixelColor(static_cast<int>(line.startX) + 20, y);
  EXPECT_EQ(onLine, QColor(0, 0, 255));
  EXPECT_GT(offLine.red(), 100);  // the translucent track over the window only
  EXPECT_GT(offLine.blue(), offLine.red());
  // Away from the centre line only the track is painted, also on the segment's span.
  EXPECT_EQ(image.pixelColor(static_cast<int>((line.startX + line.endX) / 2), 0), offLine);
  // While both segments wait nothing but the track is painted.
  EXPECT_EQ(waiting.pixelColor(150, y), waiting.pixelColor(10, 0));
}

TEST_F(ActivityIndicator, DestroyingARunningIndicatorLeavesNoTimer) {
  auto parent = std::make_unique<QWidget>();
  QPointer<KOVHorzActivityIndicator> child = new KOVHorzActivityIndicator(parent.get());
  parent->show();
  child->startAnimation();
  EXPECT_TRUE(child->isTimerActive());
  parent->hide();
  EXPECT_FALSE(child->isTimerActive());  // hidden with its window
  parent->show();
  EXPECT_TRUE(child->isTimerActive());
  parent.reset();
  EXPECT_TRUE(child.isNull());
}

}  // namespace
