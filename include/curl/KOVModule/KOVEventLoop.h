#pragma once
#include <KOVModule/KOVExport.h>
#include <KOVModule/KOVURLSession.h>

#include <chrono>
#include <cstdint>
#include <functional>

/// What a socket watch waits for, and what a ready socket reports (bits, combined with |).
enum KOVSocketEvent : uint32_t {
  KOVSocketRead = 1,
  KOVSocketWrite = 2,
  KOVSocketError = 4,  // reported only: the socket failed or the peer hung up
};

/// The host's event loop as the curl transport drives it: socket watches, single-shot
/// timers and closures run later. Everything but post() is called on the loop's own
/// thread; every handler runs from the loop, never from inside the call that set it up.
/// As a KOVMainQueue, post() runs work later on the loop's thread, in the order posted,
/// and may be called from any thread.
class KOV_CURL_EXPORT KOVEventLoop : public KOVMainQueue {
 public:
  using TimerId = uint64_t;
  /// Called with the KOVSocketEvent bits the socket is ready for.
  using SocketHandler = std::function<void(uint32_t readyEvents)>;

  ~KOVEventLoop() override;

  /// Calls onReady each time fd is ready for one of events (KOVSocketRead, KOVSocketWrite),
  /// until unwatchSocket(fd). A later call for the same fd replaces the watch.
  virtual void watchSocket(int fd, uint32_t events, SocketHandler onReady) = 0;
  /// Stops watching fd: its handler is not called again, not even for readiness already seen.
  virtual void unwatchSocket(int fd) = 0;
  /// fd is about to be closed: stops watching it and drops whatever the loop keeps for it
  /// (by default, unwatchSocket(fd)).
  virtual void forgetSocket(int fd);
  /// Calls onTimeout once, after delay (0: as soon as the loop is free).
  virtual TimerId startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) = 0;
  /// Cancels a timer that has not fired yet; ids of fired or cancelled timers are ignored.
  virtual void cancelTimer(TimerId timer) = 0;
  /// As a main queue, delayed work runs from a timer of the loop (called on its thread).
  void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override;
};
