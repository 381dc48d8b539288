#include "KOVQtEventLoop.h"

#include <QTimerEvent>

#include <algorithm>
#include <limits>
#include <utility>

#include "KOVQtMainQueue.h"

namespace kovqt {
namespace {

// Long enough to span the few event-loop turns between one request's end and the next
// one's start; short enough that an idle connection's notifier is soon off.
constexpr int kSwitchOffDelayMs = 20;

}  // namespace

QtEventLoop::QtEventLoop() : _thread(std::this_thread::get_id()) {}

namespace {

void retire(std::unique_ptr<QSocketNotifier>& notifier) {
  if (notifier) {
    // Off now, deleted later: it may be the one whose signal is running.
    notifier->setEnabled(false);
    notifier.release()->deleteLater();
  }
}

}  // namespace

QtEventLoop::~QtEventLoop() {
  for (auto& [fd, watch] : _watches) {
    retire(watch.read);
    retire(watch.write);
  }
  for (std::function<void()>& work : _posted) {
    runOnMainThread(std::move(work));
  }
}

std::unique_ptr<QSocketNotifier> QtEventLoop::notifier(int fd, QSocketNotifier::Type type, uint32_t event) {
  auto made = std::make_unique<QSocketNotifier>(fd, type);
  QObject::connect(made.get(), &QSocketNotifier::activated, this, [this, fd, event] { activated(fd, event); });
  return made;
}

void QtEventLoop::watchSocket(int fd, uint32_t events, SocketHandler onReady) {
  Watch& watch = _watches[fd];
  watch.onReady = std::move(onReady);
  _unwatched.erase(fd);
  if ((events & KOVSocketRead) && !watch.read) {
    watch.read = notifier(fd, QSocketNotifier::Read, KOVSocketRead);
  }
  if ((events & KOVSocketWrite) && !watch.write) {
    watch.write = notifier(fd, QSocketNotifier::Write, KOVSocketWrite);
  }
  // setEnabled does nothing when the state is already right.
  if (watch.read) {
    watch.read->setEnabled((events & KOVSocketRead) != 0);
  }
  if (watch.write) {
    watch.write->setEnabled((events & KOVSocketWrite) != 0);
  }
}

void QtEventLoop::unwatchSocket(int fd) {
  const auto found = _watches.find(fd);
  if (found == _watches.end() || !found->second.onReady) {
    return;
  }
  found->second.onReady = nullptr;
  // A socket always writable would report at once: that notifier goes off now.
  if (found->second.write) {
    found->second.write->setEnabled(false);
  }
  if (found->second.read && found->second.read->isEnabled()) {
    _unwatched.insert(fd);
    if (_switchOffTimer == 0) {
      _switchOffTimer = QObject::startTimer(kSwitchOffDelayMs, Qt::CoarseTimer);
    }
  }
}

void QtEventLoop::forgetSocket(int fd) {
  const auto found = _watches.find(fd);
  if (found == _watches.end()) {
    return;
  }
  // Before the descriptor closes: Qt must not poll it afterwards.
  retire(found->second.read);
  retire(found->second.write);
  _watches.erase(found);
  _unwatched.erase(fd);
}

void QtEventLoop::switchOffUnwatched() {
  for (const int fd : _unwatched) {
    const auto found = _watches.find(fd);
    if (found != _watches.end() && !found->second.onReady && found->second.read) {
      found->second.read->setEnabled(false);
    }
  }
  _unwatched.clear();
}

void QtEventLoop::activated(int fd, uint32_t event) {
  const auto found = _watches.find(fd);
  if (found == _watches.end()) {
    return;
  }
  if (!found->second.onReady) {
    // Readiness of a socket no longer watched (the peer closed an idle connection, or
    // the descriptor was closed): nobody wants it, and it would be reported again.
    for (QSocketNotifier* notifier : {found->second.read.get(), found->second.write.get()}) {
      if (notifier) {
        notifier->setEnabled(false);
      }
    }
    _unwatched.erase(fd);
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
  const int qtTimer = event->timerId();
  killTimer(qtTimer);  // every timer here is single-shot
  if (qtTimer == _postedTimer) {
    _postedTimer = 0;
    runPosted();
    return;
  }
  if (qtTimer == _switchOffTimer) {
    _switchOffTimer = 0;
    switchOffUnwatched();
    return;
  }
  const auto byQt = _byQtTimer.find(qtTimer);
  if (byQt == _byQtTimer.end()) {
    return;
  }
  const auto found = _timers.find(byQt->second);
  std::function<void()> onTimeout = std::move(found->second.onTimeout);
  // Gone before its handler runs, which may start the next one.
  _byQtTimer.erase(byQt);
  _timers.erase(found);
  onTimeout();
}

void QtEventLoop::post(std::function<void()> work) {
  if (!work) {
    return;
  }
  if (std::this_thread::get_id() != _thread) {
    runOnMainThread(std::move(work));
    return;
  }
  // A zero timer runs the queue from the next turn of the loop; unlike a posted event it
  // does not wake the loop through its wake-up descriptor.
  _posted.push_back(std::move(work));
  if (_postedTimer == 0) {
    _postedTimer = QObject::startTimer(0, Qt::PreciseTimer);
  }
}

void QtEventLoop::runPosted() {
  // Only what was queued before this turn: work posted meanwhile waits for the next one.
  std::deque<std::function<void()>> batch;
  batch.swap(_posted);
  while (!batch.empty()) {
    std::function<void()> work = std::move(batch.front());
    batch.pop_front();
    work();
  }
}

}  // namespace kovqt
