#include "QtTestSupport.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace kovtest {

bool waitUntil(const std::function<bool()>& done, int deadlineMs) {
  QDeadlineTimer deadline(deadlineMs);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QEventLoop loop;
    QTimer::singleShot(5, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

void settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

ResponseHandler Recorder::handler() {
  return [this](const std::optional<std::string>& data, const std::optional<KOVURLResponse>& response,
                const std::optional<KOVError>& error) {
    if (insideCall) ranInsideCall = true;
    calls.push_back(Completion{data, response, error});
  };
}

}  // namespace kovtest
