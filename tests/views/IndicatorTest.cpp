// The activity indicator: its animation's exact steps, its timer and what it paints.
#include <gtest/gtest.h>

#include <QTest>

#include <KOVModule/KOVHorzActivityIndicator.h>
#include <KOVModule/StatusView.h>

namespace {

// Counts the paint events a widget receives.
struct PaintCount : QObject {
  bool eventFilter(QObject*, QEvent* event) override {
    paints += event->type() == QEvent::Paint;
    return false;
  }
  int paints = 0;
};

using Steps = std::vector<std::pair<int, LineState>>;

TEST(LineAnimation, StateChangesFallOnTheExactTicks) {
  kov::LineAnimation animation;
  animation.reset();
  Steps first, second;
  for (int tick = 1; tick <= 600; ++tick) {
    const LineState a = animation.firstLine().lineState, b = animation.secondLine().lineState;
    animation.tick(300);
    if (animation.firstLine().lineState != a) first.emplace_back(tick, animation.firstLine().lineState);
    if (animation.secondLine().lineState != b) second.emplace_back(tick, animation.secondLine().lineState);
  }
  EXPECT_EQ(first, (Steps{{1, LineStateStartGoes}, {52, LineStateBothGo}, {153, LineStateCooldown},
                          {253, LineStateStartGoes}, {304, LineStateBothGo}, {405, LineStateCooldown},
                          {505, LineStateStartGoes}, {556, LineStateBothGo}}));
  // The second segment runs the same 252-tick cycle, 99 ticks behind.
  EXPECT_EQ(second, (Steps{{100, LineStateStartGoes}, {151, LineStateBothGo}, {252, LineStateCooldown},
                           {352, LineStateStartGoes}, {403, LineStateBothGo}, {504, LineStateCooldown}}));
}

TEST(ActivityIndicator, TicksOnlyWhilePlayingAndShownAndRestartsFromTheBeginning) {
  QWidget window;
  auto* indicator = new KOVHorzActivityIndicator(&window);
  indicator->startAnimation();
  EXPECT_FALSE(indicator->isTimerActive());  // not on screen yet
  window.show();
  EXPECT_TRUE(QTest::qWaitFor([&] { return indicator->firstLine().lineState == LineStateStartGoes; }, 5000));
  window.hide();
  EXPECT_TRUE(indicator->IsPlayingAnimation() && !indicator->isTimerActive());
  window.show();
  indicator->startAnimation();  // from the beginning, with one timer
  EXPECT_TRUE(indicator->isTimerActive() && indicator->firstLine().lineState == LineStateWaiting &&
              indicator->secondLine().pause == 1.0);
  indicator->doFrame(), indicator->stopAnimation();
  window.hide(), window.show();
  EXPECT_FALSE(indicator->isTimerActive());
  EXPECT_EQ(indicator->firstLine().lineState, LineStateStartGoes);  // stopping does not reset
}

TEST(ActivityIndicator, PaintsMovingSegmentsOnTheCentreLineOverTheTrack) {
  KOVHorzActivityIndicator indicator;
  indicator.resize(300, 8), indicator.setLineColor(QColor(0, 0, 255), 2.0f, true);
  indicator.startAnimation();
  for (int i = 0; i < 60; ++i) indicator.doFrame();
  const QImage image = indicator.grab().toImage();
  const int mid = static_cast<int>((indicator.firstLine().startX + indicator.firstLine().endX) / 2);
  const QColor track = image.pixelColor(static_cast<int>(indicator.firstLine().startX) + 20, 4);
  EXPECT_EQ(image.pixelColor(mid, 4), QColor(0, 0, 255));
  EXPECT_TRUE(track.red() > 100 && track.blue() > track.red());  // the translucent track over the window only
  EXPECT_EQ(image.pixelColor(mid, 2), track);                    // two pixels thick
}

// On the status screen: whether a tick repaints the screen beneath the indicator.
struct Backdrop {
  const char* name;
  QColor background;
  int screenPaints;  // in 60 ticks
};

class OnTheStatusScreen : public ::testing::TestWithParam<Backdrop> {};

TEST_P(OnTheStatusScreen, ATickRepaintsTheIndicatorOnceAndTheScreenOnlyUnderATranslucentBackground) {
  auto style = KOVWindowStyle::getDefault()->clone();
  style->showActivityIndicator = true, style->activityIndicatorColor = QColor(0, 0, 255);
  style->backgroundColor = GetParam().background;
  StatusView view;
  view.applyStyle(style), view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  KOVHorzActivityIndicator* indicator = view.activityIndicator();
  PaintCount screen, strip;
  view.installEventFilter(&screen), indicator->installEventFilter(&strip);
  for (int i = 0; i < 60; ++i) indicator->doFrame();
  EXPECT_EQ(strip.paints, 60);
  EXPECT_EQ(screen.paints, GetParam().screenPaints);
  // The same pixels as when the screen beneath is painted first.
  const QImage shown = view.grab(indicator->geometry()).toImage();
  indicator->setAutoFillBackground(false);
  EXPECT_EQ(shown, view.grab(indicator->geometry()).toImage());
}

INSTANTIATE_TEST_SUITE_P(Indicator, OnTheStatusScreen,
                         ::testing::Values(Backdrop{"Opaque", QColor(240, 240, 240), 0},
                                           Backdrop{"Translucent", QColor(240, 240, 240, 128), 60}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
