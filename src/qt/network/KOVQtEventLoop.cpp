#include "KOVQtEventLoop.h"

#include <QTimerEvent>

#include <limits>
#include <utility>

#include "KOVQtMainQueue.h"

namespace kovqt {

QtEventLoop::QtEventLoop() = default;

QtEventLoop::~QtEventLoop() {
  for (auto& [fd, watch] : _watches) {
    retire(std::move(watch.read));
    retire(std::move(watch.write));
  }
}

std::unique_ptr<QSocketNotifier> QtEventLoop::notifier(int fd, QSocketNotifier::Type type, uint32_t event) {
  auto made = std::make_unique<QSocketNotifier>(fd, type);
  QObject::connect(made.get(), &QSocketNotifier::activated, this, [this, fd, event] { activated(fd, event); });
  return made;
}

void QtEventLoop::retire(std::unique_ptr<QSocketNotifier> notifier) {
  if (notifier) {
    // Disabled now, deleted later: it may be the one whose signal is running.
    notifier->setEnabled(false);
    notifier.release()->deleteLater();
  }
}

void QtEventLoop::watchSocket(int fd, uint32_t events, SocketHandler onReady) {
  Watch& watch = _watches[fd];
  watch.onReady = std::move(onReady);
  // Notifiers are kept across changes of interest, only switched on and off.
  if ((events & KOVSocketRead) && !watch.read) {
    watch.read = notifier(fd, QSocketNotifier::Read, KOVSocketRead);
  }
  if ((events & KOVSocketWrite) && !watch.write) {
    watch.write = notifier(fd, QSocketNotifier::Write, KOVSocketWrite);
  }
  if (watch.read) {
    watch.read->setEnabled((events & KOVSocketRead) != 0);
  }
  if (watch.write) {
    watch.write->setEnabled((events & KOVSocketWrite) != 0);
  }
}

void QtEventLoop::unwatchSocket(int fd) {
  const auto found = _watches.find(fd);
  if (found == _watches.end()) {
    return;
  }
  retire(std::move(found->second.read));
  retire(std::move(found->second.write));
  _watches.erase(found);
}

void QtEventLoop::activated(int fd, uint32_t event) {
  const auto found = _watches.find(fd);
  if (found == _watches.end()) {
    return;
  }
  const SocketHandler handler = found->second.onReady;  // a copy: the handler may unwatch
  handler(event);
}

KOVEventLoop::TimerId QtEventLoop::startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) {
  const auto ms = static_cast<int>(std::clamp<long long>(delay.count(), 0, std::numeric_limits<int>::max()));
  const int qtTimer = QObject::startTimer(ms, Qt::PreciseTimer);
  const TimerId id = _nextTimer++;
  _timers.emplace(id, Timer{qtTimer, std::move(onTimeout)});
  _byQtTimer.emplace(qtTimer, id);
  return id;
}

void QtEventLoop::cancelTimer(TimerId timer) {
  const auto found = _timers.find(timer);
  if (found == _timers.end()) {
    return;
  }
  killTimer(found->second.qtTimer);
  _byQtTimer.erase(found->second.qtTimer);
  _timers.erase(found);
}

void QtEventLoop::timerEvent(QTimerEvent* event) {
  const auto byQt = _byQtTimer.find(event->timerId());
  if (byQt == _byQtTimer.end()) {
    killTimer(event->timerId());
    return;
  }
  const auto found = _timers.find(byQt->second);
  std::function<void()> onTimeout = std::move(found->second.onTimeout);
  // Single-shot: gone before its handler runs, which may start the next one.
  killTimer(event->timerId());
  _byQtTimer.erase(byQt);
  _timers.erase(found);
  onTimeout();
}

void QtEventLoop::post(std::function<void()> work) { runOnMainThread(std::move(work)); }

}  // namespace kovqt
