#include <KOVModule/KOVPollLoop.h>

#include <KOVModule/WqKOV.h>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
}

struct KOVPollLoop::Private {
  struct Watch {
    uint32_t events = 0;
    SocketHandler onReady;
    uint64_t generation = 0;  // tells a replaced or removed watch from the one that was polled
  };
  struct Timer {
    Clock::time_point due;
    std::function<void()> onTimeout;
  };

  std::map<int, Watch> watches;
  std::map<TimerId, Timer> timers;
  uint64_t nextGeneration = 1;
  TimerId nextTimer = 1;

  std::mutex postMutex;
  std::deque<std::function<void()>> posted;
  std::thread::id runningOn;  // the thread in runUntil(), if any (guarded by postMutex)
  int wakeFd = -1;  // an eventfd: post() from another thread ends a poll() that waits
  std::atomic<bool> quitRequested{false};

  void wake() const {
    const uint64_t one = 1;
    (void)!::write(wakeFd, &one, sizeof one);
  }
  void drainWake() const {
    uint64_t count = 0;
    (void)!::read(wakeFd, &count, sizeof count);
  }

  // Runs each closure posted before this call; false when stopped (done or quit) on the way.
  bool runPosted(const std::function<bool()>& done, bool& finished) {
    std::deque<std::function<void()>> batch;
    {
      const std::lock_guard lock(postMutex);
      batch.swap(posted);
    }
    while (!batch.empty()) {
      std::function<void()> work = std::move(batch.front());
      batch.pop_front();
      work();
      if (quitRequested || done()) {
        // What is left of the batch goes back in front of anything posted meanwhile.
        const std::lock_guard lock(postMutex);
        for (auto it = batch.rbegin(); it != batch.rend(); ++it) {
          posted.push_front(std::move(*it));
        }
        finished = !quitRequested;
        return false;
      }
    }
    return true;
  }

  bool hasPosted() {
    const std::lock_guard lock(postMutex);
    return !posted.empty();
  }

  // Milliseconds until the earliest timer is due (0 when it is), -1 when none is set.
  int msToEarliestTimer() const {
    std::optional<Clock::time_point> earliest;
    for (const auto& [id, timer] : timers) {
      earliest = earliest ? std::min(*earliest, timer.due) : timer.due;
    }
    if (!earliest) {
      return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*earliest - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, 24 * 3600 * 1000));
  }

  // Keeps the descriptor handed to a host's own loop in step with the watches.
  void control(int fd, int operation, uint32_t events) const {
    if (epollFd < 0) {
      return;
    }
    epoll_event event{};
    event.events = ((events & KOVSocketRead) ? EPOLLIN : 0U) | ((events & KOVSocketWrite) ? EPOLLOUT : 0U);
    event.data.fd = fd;
    ::epoll_ctl(epollFd, operation, fd, &event);
  }

  // One round: the closures posted before it, then (waiting when wait is set) the ready
  // sockets, then the due timers. A value when the loop is to stop: true when done() holds,
  // false after quit() or when nothing is left that could make done() hold.
  std::optional<bool> turn(const std::function<bool()>& done, bool wait) {
    const auto stop = [this, &done]() -> std::optional<bool> {
      if (quitRequested) {
        return false;
      }
      if (done()) {
        return true;
      }
      return std::nullopt;
    };
    if (const std::optional<bool> result = stop()) {
      return result;
    }
    bool finished = false;
    if (!runPosted(done, finished)) {
      return finished;
    }

    // How long poll() may wait: not at all with work queued, until the earliest timer, or
    // for ever when only sockets are left.
    const int timeoutMs = !wait || hasPosted() ? 0 : msToEarliestTimer();
    if (timeoutMs < 0 && watches.empty()) {
      return false;  // nothing could ever make done() true
    }

    // Work already due runs without asking the kernel first; sockets are still polled at
    // least every other round, so a chain of zero timers cannot starve them.
    const bool skipPoll = wait && timeoutMs == 0 && polledLastRound;
    polledLastRound = !skipPoll;
    if (!skipPoll) {
      fds.clear();
      polled.clear();
      fds.push_back(pollfd{wakeFd, POLLIN, 0});
      for (const auto& [fd, watch] : watches) {
        short events = 0;
        events |= (watch.events & KOVSocketRead) ? POLLIN : 0;
        events |= (watch.events & KOVSocketWrite) ? POLLOUT : 0;
        fds.push_back(pollfd{fd, events, 0});
        polled.emplace_back(fd, watch.generation);
      }
      const int ready = ::poll(fds.data(), fds.size(), timeoutMs);
      if (ready < 0 && errno != EINTR) {
        return false;
      }
      if (ready > 0 && fds[0].revents != 0) {
        drainWake();
      }
      for (std::size_t i = 1; ready > 0 && i < fds.size(); ++i) {
        const short revents = fds[i].revents;
        if (revents == 0) {
          continue;
        }
        // The handler of an earlier socket may have removed or replaced this watch.
        const auto found = watches.find(polled[i - 1].first);
        if (found == watches.end() || found->second.generation != polled[i - 1].second) {
          continue;
        }
        uint32_t readyEvents = 0;
        readyEvents |= (revents & (POLLIN | POLLHUP)) ? uint32_t{KOVSocketRead} : 0U;
        readyEvents |= (revents & POLLOUT) ? uint32_t{KOVSocketWrite} : 0U;
        readyEvents |= (revents & (POLLERR | POLLNVAL)) ? (uint32_t{KOVSocketError} | found->second.events) : 0U;
        const SocketHandler handler = found->second.onReady;  // a copy: the handler may unwatch
        handler(readyEvents);
        if (const std::optional<bool> result = stop()) {
          return result;
        }
      }
    }

    const Clock::time_point now = Clock::now();
    std::vector<TimerId> due;
    for (const auto& [id, timer] : timers) {
      if (timer.due <= now) {
        due.push_back(id);
      }
    }
    for (const TimerId id : due) {
      const auto found = timers.find(id);
      if (found == timers.end()) {
        continue;  // cancelled by an earlier handler
      }
      std::function<void()> onTimeout = std::move(found->second.onTimeout);
      timers.erase(found);
      onTimeout();
      if (const std::optional<bool> result = stop()) {
        return result;
      }
    }
    return std::nullopt;
  }

  std::vector<pollfd> fds;
  std::vector<std::pair<int, uint64_t>> polled;  // fd and generation of each watch polled
  bool polledLastRound = true;
  int epollFd = -1;  // made when a host asks for one descriptor to wait on
};

KOVPollLoop::KOVPollLoop() : d(std::make_unique<Private>()) {
  d->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

KOVPollLoop::~KOVPollLoop() {
  for (const int fd : {d->wakeFd, d->epollFd}) {
    if (fd >= 0) {
      ::close(fd);
    }
  }
}

void KOVPollLoop::watchSocket(int fd, uint32_t events, SocketHandler onReady) {
  const auto [entry, added] = d->watches.try_emplace(fd);
  Private::Watch& watch = entry->second;
  watch.events = events;
  watch.onReady = std::move(onReady);
  watch.generation = d->nextGeneration++;
  d->control(fd, added ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, events);
}

void KOVPollLoop::unwatchSocket(int fd) {
  if (d->watches.erase(fd) > 0) {
    d->control(fd, EPOLL_CTL_DEL, 0);
  }
}

KOVEventLoop::TimerId KOVPollLoop::startTimer(std::chrono::milliseconds delay, std::function<void()> onTimeout) {
  const TimerId id = d->nextTimer++;
  d->timers.emplace(id, Private::Timer{Clock::now() + std::max(delay, std::chrono::milliseconds(0)),
                                       std::move(onTimeout)});
  return id;
}

void KOVPollLoop::cancelTimer(TimerId timer) { d->timers.erase(timer); }

void KOVPollLoop::post(std::function<void()> work) {
  if (!work) {
    return;
  }
  bool wake = false;
  {
    const std::lock_guard lock(d->postMutex);
    // One wake-up per batch is enough: the loop takes the whole queue. Work posted from the
    // loop's own handlers needs none, the loop looks at the queue before it waits.
    wake = d->posted.empty() && d->runningOn != std::this_thread::get_id();
    d->posted.push_back(std::move(work));
  }
  if (wake) {
    d->wake();
  }
}

void KOVPollLoop::quit() {
  d->quitRequested = true;
  d->wake();
}

bool KOVPollLoop::run(const WqKOV& engine) {
  return runUntil([&engine] { return !engine.isTransactionInProgress(); }) &&
         // The ended transaction's late completions run before run() returns.
         runUntil([this, &engine] { return !d->hasPosted() && !engine.isTransactionInProgress(); });
}

bool KOVPollLoop::runUntil(const std::function<bool()>& done) {
  struct Running {
    Private& p;
    std::thread::id before;
    explicit Running(Private& loop) : p(loop) {
      const std::lock_guard lock(p.postMutex);
      before = p.runningOn;
      p.runningOn = std::this_thread::get_id();
    }
    ~Running() {
      p.quitRequested = false;
      const std::lock_guard lock(p.postMutex);
      p.runningOn = before;
    }
  } running{*d};
  for (;;) {
    if (const std::optional<bool> result = d->turn(done, true)) {
      return *result;
    }
  }
}

int KOVPollLoop::descriptor() {
  if (d->epollFd < 0) {
    d->epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    d->control(d->wakeFd, EPOLL_CTL_ADD, KOVSocketRead);
    for (const auto& [fd, watch] : d->watches) {
      d->control(fd, EPOLL_CTL_ADD, watch.events);
    }
  }
  return d->epollFd;
}

int KOVPollLoop::timeoutMs() const { return d->hasPosted() ? 0 : d->msToEarliestTimer(); }

void KOVPollLoop::processReady() {
  d->turn([] { return false; }, false);
}
