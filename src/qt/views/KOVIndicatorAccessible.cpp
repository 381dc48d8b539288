#include "KOVIndicatorAccessible.h"

#include <QWidget>

namespace {

QAccessibleInterface* indicatorFactory(const QString& key, QObject* object) {
  auto* indicator = qobject_cast<QWidget*>(object);
  if (key != QLatin1String("KOVHorzActivityIndicator") || !indicator) return nullptr;
  return new KOVIndicatorAccessible(indicator);  // Qt's registry owns it
}

}  // namespace

KOVIndicatorAccessible::KOVIndicatorAccessible(QWidget* indicator)
    : QAccessibleWidget(indicator, QAccessible::ProgressBar) {}

QAccessible::State KOVIndicatorAccessible::state() const {
  QAccessible::State s = QAccessibleWidget::state();
  s.busy = widget()->property("busy").toBool();
  return s;
}

QString KOVIndicatorAccessible::text(QAccessible::Text t) const {
  const QString text = QAccessibleWidget::text(t);
  if (t == QAccessible::Name && text.isEmpty()) return QStringLiteral("Working");
  return text;
}

void KOVIndicatorAccessible::install() {
  // Qt keeps the factory for the process; one registration serves every indicator.
  static const bool registered = (QAccessible::installFactory(&indicatorFactory), true);
  (void)registered;
}

void KOVIndicatorAccessible::busyChanged(QWidget* indicator) {
  if (!QAccessible::isActive()) return;  // nobody listens: no interface is made
  QAccessible::State changed;
  changed.busy = true;
  QAccessibleStateChangeEvent event(indicator, changed);
  QAccessible::updateAccessibility(&event);
}
