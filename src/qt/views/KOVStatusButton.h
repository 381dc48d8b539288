#pragma once
#include <optional>

#include <QColor>
#include <QPushButton>

/// A status screen button: a flat fill with rounded corners and a centred title, large
/// enough for a thumb. Without a fill colour it draws as the toolkit's own push button. Space
/// and Enter press it when it has the focus; a keyboard user sees a ring around it then.
class KOVStatusButton : public QPushButton {
  Q_OBJECT
  Q_PROPERTY(double cornerRadius READ cornerRadius WRITE setCornerRadius)

 public:
  explicit KOVStatusButton(QWidget* parent = nullptr);

  /// The fill; nullopt leaves the toolkit's look.
  void setFillColor(std::optional<QColor> color);
  std::optional<QColor> fillColor() const { return _fillColor; }
  /// Corner radius of the fill in pixels (0: square corners), used as given.
  void setCornerRadius(double radius);
  double cornerRadius() const { return _cornerRadius; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::optional<QColor> _fillColor;
  double _cornerRadius = 0.0;
};
