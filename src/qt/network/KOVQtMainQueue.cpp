#include "KOVQtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace kovqt {

void runOnMainThread(std::function<void()> work) {
  if (!work) {
    return;
  }
  QCoreApplication* application = QCoreApplication::instance();
  if (!application) {
    work();
    return;
  }
  // Queued calls to one receiver are delivered in the order they were posted.
  QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

}  // namespace kovqt
