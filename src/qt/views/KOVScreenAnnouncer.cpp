#include "KOVScreenAnnouncer.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

QAccessibleInterface* notificationFactory(const QString& key, QObject* object) {
  if (key != QLatin1String("KOVScreenAnnouncer") || !object || !object->isWidgetType()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Notification);  // Qt's registry owns it
}

}  // namespace

KOVScreenAnnouncer::KOVScreenAnnouncer(QWidget* parent) : QWidget(parent) {
  // Qt keeps the factory for the process; one registration serves every screen.
  static const bool registered = (QAccessible::installFactory(&notificationFactory), true);
  (void)registered;
  setFixedSize(0, 0);
  setFocusPolicy(Qt::NoFocus);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  hide();
}

void KOVScreenAnnouncer::announce(const QString& text) {
  // Hidden, named, then shown: the bridge sends "showing" with the new name in place. With no
  // assistive technology listening, Qt sends no event and this costs two flag changes.
  hide();
  setAccessibleName(text);
  show();
}
