#include "KOVStatusButton.h"

#include <algorithm>

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

KOVStatusButton::KOVStatusButton(QWidget* parent) : QPushButton(parent) {
  setCursor(Qt::PointingHandCursor);
  setAutoDefault(false);
}

void KOVStatusButton::setFillColor(std::optional<QColor> color) {
  _fillColor = std::move(color);
  update();
}

void KOVStatusButton::setCornerRadius(double radius) {
  _cornerRadius = radius;
  update();
}

QSize KOVStatusButton::sizeHint() const {
  const QString title = text().isEmpty() ? QStringLiteral("M") : text();
  const QSize textSize = fontMetrics().size(Qt::TextSingleLine, title);
  return {std::max(textSize.width() + 48, minimumWidth()), std::max(textSize.height() + 24, minimumHeight())};
}

void KOVStatusButton::paintEvent(QPaintEvent* event) {
  if (!_fillColor) {
    QPushButton::paintEvent(event);
    return;
  }
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing, true);
  QColor fill = *_fillColor;
  // Feedback a finger can see: darker while held, a little lighter under the pointer.
  if (isDown()) {
    fill = fill.darker(125);
  } else if (underMouse()) {
    fill = fill.lighter(110);
  }
  if (!isEnabled()) fill.setAlphaF(fill.alphaF() * 0.4f);
  const QRectF area = QRectF(rect());
  QPainterPath path;
  path.addRoundedRect(area, _cornerRadius, _cornerRadius);
  painter.fillPath(path, fill);
  // A focus ring only for keyboard users, so a pointer or touch screen stays clean. It has the
  // title's colour, which stands out from the fill as the title must, and is wide enough to see.
  if (hasFocus() && window()->testAttribute(Qt::WA_KeyboardFocusChange)) {
    QPen focusPen(palette().color(QPalette::ButtonText));
    focusPen.setWidthF(2.0);
    painter.setPen(focusPen);
    const qreal inset = 4.0;
    const qreal radius = std::max(0.0, _cornerRadius - inset);
    painter.drawRoundedRect(area.adjusted(inset, inset, -inset, -inset), radius, radius);
  }
  painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  painter.setFont(font());
  painter.drawText(rect().adjusted(12, 0, -12, 0), Qt::AlignCenter | Qt::TextSingleLine, text());
}

void KOVStatusButton::keyPressEvent(QKeyEvent* event) {
  // Enter presses the focused button, as Space does; a dialog would otherwise look for a
  // default button, which the screen never has.
  if (!event->isAutoRepeat() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
    event->accept();
    click();
    return;
  }
  QPushButton::keyPressEvent(event);
}
