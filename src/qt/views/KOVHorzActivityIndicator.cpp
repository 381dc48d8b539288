#include <KOVModule/KOVHorzActivityIndicator.h>

#include <utility>

#include <QHideEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
#include <QShowEvent>

#include "KOVIndicatorAccessible.h"

namespace {

// Red 1.0 with green and blue at the single-precision 10/255.
QColor defaultLineColor() {
  const float tenOf255 = 10.0f / 255.0f;
  return QColor::fromRgbF(1.0f, tenOf255, tenOf255, 1.0f);
}

constexpr float kTrackAlpha = 0.3f;
// The still segment of reduced motion: the middle third of the track.
constexpr double kStillSegmentStart = 1.0 / 3.0;
constexpr double kStillSegmentEnd = 2.0 / 3.0;

}  // namespace

KOVHorzActivityIndicator::KOVHorzActivityIndicator(QWidget* parent)
    : QWidget(parent),
      _lineColor(defaultLineColor()),
      _backgroundColor(Qt::transparent),
      _trackColor(Qt::transparent) {
  _segmentColors.fill(_lineColor);
  _animationTimer.setInterval(kTickMilliseconds);
  _animationTimer.setTimerType(Qt::PreciseTimer);
  connect(&_animationTimer, &QTimer::timeout, this, &KOVHorzActivityIndicator::doFrame);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  KOVIndicatorAccessible::install();
}

KOVHorzActivityIndicator::~KOVHorzActivityIndicator() {
  _animationTimer.stop();
}

void KOVHorzActivityIndicator::setLineColor(const QColor& color, float width, bool needBackground) {
  _lineColor = color;
  _lineWidth = width;
  if (needBackground) {
    _backgroundColor = color;
    _backgroundColor.setAlphaF(kTrackAlpha);
  } else {
    _backgroundColor = QColor(Qt::transparent);
  }
  update();
}

void KOVHorzActivityIndicator::startAnimation() {
  _trackColor = _backgroundColor;
  _segmentColors.fill(_lineColor);
  _animation.reset();
  const bool was = std::exchange(_isPlaying, true);
  _animationTimer.stop();  // a restart begins a fresh tick period
  updateTimer();
  update();
  if (!was) KOVIndicatorAccessible::busyChanged(this);
}

void KOVHorzActivityIndicator::stopAnimation() {
  const bool was = std::exchange(_isPlaying, false);
  updateTimer();
  if (was) {
    update();  // a still segment goes away
    KOVIndicatorAccessible::busyChanged(this);
  }
}

void KOVHorzActivityIndicator::setReducedMotion(bool reduced) {
  _reducedMotion = reduced;
  updateTimer();
  update();
}

void KOVHorzActivityIndicator::doFrame() {
  _animation.tick(static_cast<double>(width()));
  // Painted at once from the tick: a posted update would wake the event loop a second
  // time for every tick.
  repaint();
}

QSize KOVHorzActivityIndicator::sizeHint() const {
  return {200, 4};
}

void KOVHorzActivityIndicator::updateTimer() {
  // Ticks only while wanted and on screen: a hidden or closed indicator costs nothing.
  const bool run = _isPlaying && !_reducedMotion && isVisible();
  if (run && !_animationTimer.isActive()) {
    _animationTimer.start();
  } else if (!run && _animationTimer.isActive()) {
    _animationTimer.stop();
  }
}

void KOVHorzActivityIndicator::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  updateTimer();
}

void KOVHorzActivityIndicator::hideEvent(QHideEvent* event) {
  QWidget::hideEvent(event);
  updateTimer();
}

void KOVHorzActivityIndicator::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  if (_trackColor.alpha() > 0) painter.fillRect(rect(), _trackColor);
  const double y = height() * 0.5;
  if (_reducedMotion) {
    if (!_isPlaying) return;
    QPen pen(_segmentColors[0]);
    pen.setWidthF(static_cast<qreal>(_lineWidth));
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.drawLine(QPointF(width() * kStillSegmentStart, y), QPointF(width() * kStillSegmentEnd, y));
    return;
  }
  const std::array<const LineInfo*, 2> lines{&_animation.firstLine(), &_animation.secondLine()};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const LineInfo& line = *lines[i];
    if (!kov::LineAnimation::isDrawn(line)) continue;
    QPen pen(_segmentColors[i]);
    pen.setWidthF(static_cast<qreal>(_lineWidth));
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.setOpacity(1.0);
    painter.drawLine(QPointF(line.endX, y), QPointF(line.startX, y));
  }
}
