#include <KOVModule/KOVLineAnimation.h>

#include <algorithm>

#include <KOVModule/KOVQuadraticEaseOut.h>

namespace {

// The end position for a time fraction: the ease-out in single precision, scaled by the
// width in double and kept as single.
float position(double width, float fraction) {
  return static_cast<float>(width * static_cast<double>(QuadraticEaseOut(fraction)));
}

float addSeconds(float field, double delta) {
  return static_cast<float>(static_cast<double>(field) + delta);
}

}  // namespace

namespace kov {

void LineAnimation::reset() {
  _firstLine = LineInfo{};
  _secondLine = LineInfo{};
  _secondLine.pause = kSecondLineDelay;
}

void LineAnimation::tick(double width) {
  doLine(_firstLine, kInterval, kTotalTime, width);
  doLine(_secondLine, kInterval, kTotalTime, width);
}

void LineAnimation::doLine(LineInfo& line, double interval, float totalTime, double width) {
  switch (line.lineState) {
    case LineStateWaiting:
    case LineStateCooldown:
      line.pause = line.pause - interval;
      if (line.pause > 0) return;
      line.startX = 0.0f;
      line.endX = 0.0f;
      line.endXPause = kHeadStart;
      line.currTimeStartX = 0.0f;
      line.currTimeEndX = 0.0f;
      line.lineState = LineStateStartGoes;
      return;
    case LineStateStartGoes:
      line.currTimeStartX = addSeconds(line.currTimeStartX, interval);
      // Not capped here: the head start ends long before the run does.
      line.startX = position(width, line.currTimeStartX / totalTime);
      line.endXPause = addSeconds(line.endXPause, -interval);
      if (line.endXPause > 0) return;
      line.endXPause = 0.0f;
      line.lineState = LineStateBothGo;
      return;
    case LineStateBothGo: {
      line.currTimeStartX = addSeconds(line.currTimeStartX, interval);
      line.currTimeEndX = addSeconds(line.currTimeEndX, interval);
      const float a = std::min(line.currTimeStartX / totalTime, 1.0f);
      const float b = std::min(line.currTimeEndX / totalTime, 1.0f);
      line.startX = position(width, a);
      line.endX = position(width, b);
      if (b >= 1.0f) {
        line.pause = kRest;
        line.lineState = LineStateCooldown;
      }
      return;
    }
  }
}

bool LineAnimation::isDrawn(const LineInfo& line) {
  return line.lineState == LineStateStartGoes || line.lineState == LineStateBothGo;
}

}  // namespace kov
