#pragma once
#include <QAccessibleWidget>

class KOVHorzActivityIndicator;

/// The activity indicator as assistive technology sees it: a progress bar (named "Working"
/// unless the host names it) that is busy while the animation is on.
class KOVIndicatorAccessible : public QAccessibleWidget {
 public:
  explicit KOVIndicatorAccessible(KOVHorzActivityIndicator* indicator);

  QAccessible::State state() const override;
  QString text(QAccessible::Text t) const override;

  /// Registers the indicator's accessible with Qt, once per process.
  static void install();
  /// Tells assistive technology that the indicator's busy state changed.
  static void busyChanged(KOVHorzActivityIndicator* indicator);
};
