#pragma once
#include <QAccessibleWidget>

/// The activity indicator as assistive technology sees it: a progress bar (named "Working"
/// unless the host names it) that is busy while its "busy" property holds. It knows the
/// indicator by class name and property only, so that the indicator can call it.
class KOVIndicatorAccessible : public QAccessibleWidget {
 public:
  explicit KOVIndicatorAccessible(QWidget* indicator);

  QAccessible::State state() const override;
  QString text(QAccessible::Text t) const override;

  /// Registers the indicator's accessible with Qt, once per process.
  static void install();
  /// Tells assistive technology that the indicator's busy state changed.
  static void busyChanged(QWidget* indicator);
};
