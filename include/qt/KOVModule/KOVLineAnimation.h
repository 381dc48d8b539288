#pragma once
#include <KOVModule/KOVExport.h>
#include <cstdint>

/// Phase of one sweeping segment of the activity indicator.
enum LineState : uint32_t {
  LineStateWaiting = 0,    ///< Initial wait; not drawn.
  LineStateStartGoes = 1,  ///< The leading end moves, the trailing end stays at the left edge.
  LineStateBothGo = 2,     ///< Both ends move; the trailing end chases the leading one to the right edge.
  LineStateCooldown = 3,   ///< Rest between two runs; not drawn.
};

/// One segment: its phase, its two ends and the times run on their ease-outs.
struct LineInfo {
  double pause = 0.0;          ///< Seconds left in Waiting or Cooldown.
  float startX = 0.0f;         ///< x of the leading end.
  float endX = 0.0f;           ///< x of the trailing end.
  float endXPause = 0.0f;      ///< Seconds before the trailing end starts to move.
  float currTimeStartX = 0.0f; ///< Time run on the leading end's ease-out.
  float currTimeEndX = 0.0f;   ///< Time run on the trailing end's ease-out.
  LineState lineState = LineStateWaiting;
};

namespace kov {

/// The indicator's animation without any drawing: two segments advanced by a fixed step
/// per tick, so a test can follow it tick by tick. Time is counted in ticks, never
/// measured, so a late tick slows the animation instead of making it jump.
class KOV_QT_EXPORT LineAnimation {
 public:
  /// Animation time added per tick, in seconds.
  static constexpr double kInterval = 0.01;
  /// Duration of one ease-out run of one end, in seconds.
  static constexpr float kTotalTime = 1.0f;
  /// Head start of the leading end, in seconds.
  static constexpr float kHeadStart = 0.5f;
  /// Rest between two runs, in seconds.
  static constexpr double kRest = 1.0;
  /// Initial wait of the second segment, in seconds.
  static constexpr double kSecondLineDelay = 1.0;

  /// Puts both segments back to their initial waits (the second starts one second later).
  void reset();
  /// One tick on a view of the given width: the first segment, then the second.
  void tick(double width);

  const LineInfo& firstLine() const { return _firstLine; }
  const LineInfo& secondLine() const { return _secondLine; }

  /// Advances one segment by one step of interval seconds. Sums and differences are
  /// worked in double and stored in the field's own width; quotients and the ease-out in
  /// single precision; the width times the ease-out in double, stored as single.
  static void doLine(LineInfo& line, double interval, float totalTime, double width);
  /// Whether a segment in this phase is drawn.
  static bool isDrawn(const LineInfo& line);

 private:
  LineInfo _firstLine;
  LineInfo _secondLine;
};

}  // namespace kov
