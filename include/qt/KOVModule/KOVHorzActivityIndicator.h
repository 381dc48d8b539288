#pragma once
#include <KOVModule/KOVExport.h>
#include <array>

#include <QColor>
#include <QTimer>
#include <QWidget>

#include <KOVModule/KOVLineAnimation.h>

/// A thin horizontal activity indicator: two segments sweep from left to right, one after
/// the other, over a translucent track. A 10 ms timer advances the animation by a fixed
/// 0.01 s per tick. The timer runs only while the animation is on and the widget is shown;
/// hiding pauses it, showing resumes it, stopping or destroying ends it. With reduced motion
/// it does not move: a running indicator shows a still segment over its track. Assistive
/// technology sees a progress bar named "Working", busy while the animation is on.
class KOV_QT_EXPORT KOVHorzActivityIndicator : public QWidget {
  Q_OBJECT
  /// What assistive technology reads as busy: IsPlayingAnimation().
  Q_PROPERTY(bool busy READ IsPlayingAnimation)

 public:
  /// Timer period in milliseconds.
  static constexpr int kTickMilliseconds = 10;

  /// An indicator with the default line colour (red 1.0, green and blue 10/255) and width 2.
  explicit KOVHorzActivityIndicator(QWidget* parent = nullptr);
  ~KOVHorzActivityIndicator() override;

  /// Sets the line colour and width; with needBackground the track is the colour at 30%
  /// alpha, else transparent. A running animation keeps its segments' colour; the width
  /// applies from the next paint, the track from the next startAnimation.
  void setLineColor(const QColor& color, float width, bool needBackground);
  /// Starts the animation from its beginning (also when it already runs).
  void startAnimation();
  /// Stops the timer; the segments stay where they are.
  void stopAnimation();
  /// Without motion (reduced), a running indicator needs no timer and shows a still segment.
  void setReducedMotion(bool reduced);
  /// Whether motion is reduced.
  bool reducedMotion() const { return _reducedMotion; }
  /// One tick: both segments advance, then the indicator is repainted at once.
  void doFrame();

  /// True from startAnimation until stopAnimation.
  bool IsPlayingAnimation() const { return _isPlaying; }
  /// Whether the timer is running right now.
  bool isTimerActive() const { return _animationTimer.isActive(); }

  const LineInfo& firstLine() const { return _animation.firstLine(); }
  const LineInfo& secondLine() const { return _animation.secondLine(); }
  QColor lineColor() const { return _lineColor; }
  float lineWidth() const { return _lineWidth; }
  /// The track colour painted behind the segments (set by startAnimation).
  QColor trackColor() const { return _trackColor; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void updateTimer();

  QTimer _animationTimer;
  kov::LineAnimation _animation;
  QColor _lineColor;
  QColor _backgroundColor;
  QColor _trackColor;
  std::array<QColor, 2> _segmentColors;
  float _lineWidth = 2.0f;
  bool _isPlaying = false;
  bool _reducedMotion = false;
};
