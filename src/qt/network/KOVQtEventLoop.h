#pragma once
// The curl transport's event loop over the Qt event loop of the application's thread.
#include <KOVModule/KOVEventLoop.h>

#include <QObject>
#include <QSocketNotifier>

#include <deque>
#include <memory>
#include <set>
#include <thread>
#include <unordered_map>

namespace kovqt {

/// Socket watches through QSocketNotifier, timers through QObject timers, closures through a
/// queue of its own drained by a zero timer (from another thread: queued calls on the
/// application object). Made and used on the application's thread; post() may be called
/// from any thread. Closures still queued when it goes are handed to the application's
/// event loop, so none is lost.
class QtEventLoop final : public KOVEventLoop, private QObject {
 public:
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

  void watchSocket(int fd, uint32_t events, SocketHandler onReady) override;
  void unwatchSocket(int fd) override;
  void forgetSocket(int fd) override;
  TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) override;
  void cancelTimer(TimerId timer) override;
  void post(std::function<void()> work) override;

 private:
  // Notifiers are kept across watches of the same descriptor and switched off a moment
  // after the watch ends: curl ends and starts watching its kept-alive connection around
  // every request, and each switch wakes Qt's event loop once more.
  struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
    SocketHandler onReady;  // empty while not watched
  };
  struct Timer {
    int qtTimer = 0;
    std::function<void()> onTimeout;
  };

  void timerEvent(QTimerEvent* event) override;
  void activated(int fd, uint32_t event);
  void switchOffUnwatched();
  void runPosted();
  std::unique_ptr<QSocketNotifier> notifier(int fd, QSocketNotifier::Type type, uint32_t event);

  std::thread::id _thread;
  std::unordered_map<int, Watch> _watches;
  std::set<int> _unwatched;  // watches ended whose notifiers are still on
  int _switchOffTimer = 0;
  std::unordered_map<TimerId, Timer> _timers;
  std::unordered_map<int, TimerId> _byQtTimer;
  TimerId _nextTimer = 1;
  std::deque<std::function<void()>> _posted;
  int _postedTimer = 0;
};

}  // namespace kovqt
