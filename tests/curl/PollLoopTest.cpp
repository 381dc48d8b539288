// The library's own event loop beyond what a session asks of it: the order of posted work
// and timers, work posted from other threads, quit, and watches ended by another handler.
#include <KOVModule/KOVPollLoop.h>

#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(PollLoop, RunsPostedWorkThenDueTimersWakesForOtherThreadsAndStopsOnQuit) {
  KOVPollLoop loop;
  std::vector<int> ran;
  loop.startTimer(std::chrono::milliseconds(30), [&] { ran.push_back(30); });
  const KOVEventLoop::TimerId cancelled = loop.startTimer(std::chrono::milliseconds(10), [&] { ran.push_back(-1); });
  loop.startTimer(std::chrono::milliseconds(0), [&] {
    ran.push_back(0);
    loop.cancelTimer(cancelled);
  });
  loop.post([&] { ran.push_back(100); });
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 3; }));
  EXPECT_EQ(ran, (std::vector<int>{100, 0, 30}));
  // Nothing is left to wait for: the loop says so instead of blocking.
  EXPECT_FALSE(loop.runUntil([] { return false; }));

  int idle[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, idle), 0);
  loop.watchSocket(idle[0], KOVSocketRead, [](uint32_t) {});  // the loop waits in poll()
  std::thread worker([&] {
    for (int i = 1; i <= 20; ++i) loop.post([&, i] { ran.push_back(i); });
    loop.post([&] { loop.quit(); });
    loop.post([&] { ran.push_back(21); });
  });
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  worker.join();
  EXPECT_EQ(ran.size(), 23u);
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 24; }));  // quit is forgotten
  for (int i = 1; i <= 21; ++i) EXPECT_EQ(ran[std::size_t(i) + 2], i);
  for (const int fd : idle) ::close(fd);
}

TEST(PollLoop, SocketWatchReportsReadinessUntilUnwatchedEvenFromAnotherHandler) {
  KOVPollLoop loop;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  std::vector<uint32_t> seen;
  int otherCalls = 0;
  // Sockets are handled in the order of their descriptors, the lower one first.
  loop.watchSocket(pair[0], KOVSocketWrite, [&](uint32_t ready) {
    seen.push_back(ready);
    loop.unwatchSocket(pair[0]);
    loop.unwatchSocket(pair[1]);  // ready in the same round: its handler must not run
  });
  ASSERT_EQ(::write(pair[0], "x", 1), 1);
  loop.watchSocket(pair[1], KOVSocketRead, [&](uint32_t) { ++otherCalls; });
  loop.startTimer(std::chrono::milliseconds(50), [] {});
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  EXPECT_EQ(seen, (std::vector<uint32_t>{KOVSocketWrite}));
  EXPECT_EQ(otherCalls, 0);
  for (const int fd : pair) ::close(fd);
}

}  // namespace
