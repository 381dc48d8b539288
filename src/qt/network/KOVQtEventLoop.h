#pragma once
// The curl transport's event loop over the Qt event loop of the application's thread.
#include <KOVModule/KOVEventLoop.h>

#include <QObject>
#include <QSocketNotifier>

#include <memory>
#include <unordered_map>

namespace kovqt {

/// Socket watches through QSocketNotifier, timers through QObject timers, closures through
/// queued calls on the application object. Made and used on the application's thread;
/// post() may be called from any thread.
class QtEventLoop final : public KOVEventLoop, private QObject {
 public:
  QtEventLoop();
  ~QtEventLoop() override;
  QtEventLoop(const QtEventLoop&) = delete;
  QtEventLoop& operator=(const QtEventLoop&) = delete;

  void watchSocket(int fd, uint32_t events, SocketHandler onReady) override;
  void unwatchSocket(int fd) override;
  TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) override;
  void cancelTimer(TimerId timer) override;
  void post(std::function<void()> work) override;

 private:
  struct Watch {
    std::unique_ptr<QSocketNotifier> read;
    std::unique_ptr<QSocketNotifier> write;
    SocketHandler onReady;
  };
  struct Timer {
    int qtTimer = 0;
    std::function<void()> onTimeout;
  };

  void timerEvent(QTimerEvent* event) override;
  void activated(int fd, uint32_t event);
  std::unique_ptr<QSocketNotifier> notifier(int fd, QSocketNotifier::Type type, uint32_t event);
  static void retire(std::unique_ptr<QSocketNotifier> notifier);

  std::unordered_map<int, Watch> _watches;
  std::unordered_map<TimerId, Timer> _timers;
  std::unordered_map<int, TimerId> _byQtTimer;
  TimerId _nextTimer = 1;
};

}  // namespace kovqt
