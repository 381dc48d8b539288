#include <gtest/gtest.h>

#include <map>
#include <vector>

#include <KOVModule/KOVLineAnimation.h>
#include <KOVModule/KOVQuadraticEaseOut.h>

namespace {

TEST(QuadraticEaseOut, RisesToOneThenFalls) {
  EXPECT_EQ(QuadraticEaseOut(0.0f), 0.0f);
  EXPECT_EQ(QuadraticEaseOut(0.5f), 0.75f);
  EXPECT_EQ(QuadraticEaseOut(1.0f), 1.0f);
  EXPECT_EQ(QuadraticEaseOut(1.5f), 0.75f);
  EXPECT_EQ(QuadraticEaseOut(2.0f), 0.0f);
}

// The tick on which each state change happened, per segment, over a run of ticks.
struct Transitions {
  std::vector<std::pair<int, LineState>> first, second;
};

Transitions run(KOVLineAnimation& animation, int ticks, double width) {
  Transitions t;
  LineState first = animation.firstLine().lineState;
  LineState second = animation.secondLine().lineState;
  for (int tick = 1; tick <= ticks; ++tick) {
    animation.tick(width);
    if (animation.firstLine().lineState != first) {
      first = animation.firstLine().lineState;
      t.first.emplace_back(tick, first);
    }
    if (animation.secondLine().lineState != second) {
      second = animation.secondLine().lineState;
      t.second.emplace_back(tick, second);
    }
  }
  return t;
}

TEST(LineAnimation, StateChangesFallOnTheExactTicks) {
  KOVLineAnimation animation;
  animation.reset();
  const Transitions t = run(animation, 600, 300);
  const std::vector<std::pair<int, LineState>> first{
      {1, LineStateStartGoes},   {52, LineStateBothGo},  {153, LineStateCooldown},
      {253, LineStateStartGoes}, {304, LineStateBothGo}, {405, LineStateCooldown},
      {505, LineStateStartGoes}, {556, LineStateBothGo}};
  EXPECT_EQ(t.first, first);
  // The second segment starts on tick 100 and runs the same 252-tick cycle, 99 ticks behind.
  const std::vector<std::pair<int, LineState>> second{
      {100, LineStateStartGoes}, {151, LineStateBothGo}, {252, LineStateCooldown},
      {352, LineStateStartGoes}, {403, LineStateBothGo}, {504, LineStateCooldown}};
  EXPECT_EQ(t.second, second);
}

TEST(LineAnimation, PositionsFollowTheEaseOutOnAWidthOf300) {
  KOVLineAnimation animation;
  animation.reset();
  std::map<int, LineInfo> first;
  for (int tick = 1; tick <= 253; ++tick) {
    animation.tick(300);
    first[tick] = animation.firstLine();
    if (tick < 100) {
      EXPECT_EQ(animation.secondLine().lineState, LineStateWaiting) << tick;
    }
  }
  // Tick 1 only leaves the wait: nothing has moved yet.
  EXPECT_EQ(first[1].startX, 0.0f);
  EXPECT_EQ(first[1].endXPause, 0.5f);
  // The head start: the leading end alone, the trailing end at the left edge.
  EXPECT_NEAR(first[2].startX, 300 * 0.0199, 1e-3);
  EXPECT_EQ(first[51].endX, 0.0f);
  // Entering BothGo: the leading end at about 0.76 W, the trailing one still at 0.
  EXPECT_EQ(first[52].lineState, LineStateBothGo);
  EXPECT_NEAR(first[52].currTimeStartX, 0.51f, 1e-5);
  EXPECT_NEAR(first[52].startX, 227.97f, 0.01f);
  EXPECT_EQ(first[52].endX, 0.0f);
  EXPECT_EQ(first[52].endXPause, 0.0f);
  EXPECT_NEAR(first[53].startX, 230.88f, 0.01f);
  EXPECT_NEAR(first[53].endX, 5.97f, 0.01f);
  // The leading end reaches the right edge on tick 101 and stays there.
  EXPECT_LT(first[100].startX, 300.0f);
  for (int tick = 101; tick <= 152; ++tick) EXPECT_EQ(first[tick].startX, 300.0f) << tick;
  EXPECT_LT(first[151].endX, 300.0f);
  EXPECT_EQ(first[152].lineState, LineStateBothGo);
  // Cooldown with both ends at the right edge, then a fresh run from the left edge.
  EXPECT_EQ(first[153].lineState, LineStateCooldown);
  EXPECT_EQ(first[153].startX, 300.0f);
  EXPECT_EQ(first[153].endX, 300.0f);
  EXPECT_EQ(first[153].pause, 1.0);
  EXPECT_EQ(first[253].lineState, LineStateStartGoes);
  EXPECT_EQ(first[253].startX, 0.0f);
  EXPECT_EQ(first[253].endX, 0.0f);
}

TEST(LineAnimation, OnlyMovingSegmentsAreDrawnAndWidthIsReadEveryTick) {
  LineInfo line;
  EXPECT_FALSE(KOVLineAnimation::isDrawn(line));
  line.lineState = LineStateStartGoes;
  EXPECT_TRUE(KOVLineAnimation::isDrawn(line));
  line.lineState = LineStateBothGo;
  EXPECT_TRUE(KOVLineAnimation::isDrawn(line));
  line.lineState = LineStateCooldown;
  EXPECT_FALSE(KOVLineAnimation::isDrawn(line));

  // A resize moves the ends from the next tick on.
  KOVLineAnimation animation;
  animation.reset();
  for (int tick = 1; tick <= 30; ++tick) animation.tick(300);
  const float at300 = animation.firstLine().startX;
  KOVLineAnimation wider = animation;
  animation.tick(300);
  wider.tick(600);
  EXPECT_GT(animation.firstLine().startX, at300);
  EXPECT_NEAR(wider.firstLine().startX, 2 * animation.firstLine().startX, 1e-3);

  // An unknown state is left alone.
  LineInfo odd;
  odd.lineState = static_cast<LineState>(7);
  odd.startX = 12.0f;
  KOVLineAnimation::doLine(odd, 0.01, 1.0f, 300);
  EXPECT_EQ(odd.startX, 12.0f);
  EXPECT_EQ(odd.lineState, static_cast<LineState>(7));
}

}  // namespace
