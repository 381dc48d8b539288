#pragma once
#include <KOVModule/KOVEventLoop.h>
#include <KOVModule/KOVExport.h>

#include <functional>
#include <memory>

class WqKOV;

/// The library's own event loop, for hosts without a toolkit: poll(2) over the watched
/// sockets, a list of timers, and a queue of posted closures (post() may be called from any
/// thread; it wakes the loop). It runs on the thread that calls run() or runUntil().
///
/// One round of the loop runs the closures posted before it began, then waits (poll) until
/// a watched socket is ready, the earliest timer is due or a closure is posted, then calls
/// the handlers of the ready sockets and of the due timers. After every closure and handler
/// the loop checks whether it should stop.
class KOV_CURL_EXPORT KOVPollLoop final : public KOVEventLoop {
 public:
  KOVPollLoop();
  ~KOVPollLoop() override;
  KOVPollLoop(const KOVPollLoop&) = delete;
  KOVPollLoop& operator=(const KOVPollLoop&) = delete;

  void watchSocket(int fd, uint32_t events, SocketHandler onReady) override;
  void unwatchSocket(int fd) override;
  TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) override;
  void cancelTimer(TimerId timer) override;
  void post(std::function<void()> work) override;

  /// Runs the engine's transaction to its end: returns once engine.isTransactionInProgress()
  /// is false and every closure posted until then has run (the cancelled requests of the
  /// ended transaction complete there, and the engine drops them). A transaction started
  /// from inside the result handler keeps it running. Returns at once, after the posted
  /// closures, when no transaction is in progress. False when quit() stopped it first, or
  /// when nothing is left that could ever end the transaction (no socket, timer or closure).
  bool run(const WqKOV& engine);
  /// Runs until done() holds (checked first, then after each closure and handler); true
  /// then, false after quit() or when there is nothing left to wait for.
  bool runUntil(const std::function<bool()>& done);
  /// Makes the running run() or runUntil() return false after the current handler; may be
  /// called from any thread. Forgotten once that call has returned.
  void quit();

  // For a host that waits in a loop of its own instead of run():
  /// One descriptor to wait on for reading (an epoll descriptor, the loop's to close): it is
  /// readable while a watched socket is ready or a closure was posted from another thread.
  int descriptor();
  /// Milliseconds until processReady() must run at the latest, whatever the descriptor says:
  /// 0 when closures wait, -1 when no timer is set.
  int timeoutMs() const;
  /// One round without waiting: the posted closures, the ready sockets, the due timers.
  void processReady();

 private:
  struct Private;
  std::unique_ptr<Private> d;
};
