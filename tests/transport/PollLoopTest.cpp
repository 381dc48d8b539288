// The library's own event loop: timers, sockets and posted work in order, and run()'s end.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/WqKOV.h>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "SampleDetails.h"

namespace kovtest {
namespace {

using std::chrono::milliseconds;

TEST(PollLoop, RunsPostedWorkThenTimersInDueOrderAndSkipsCancelledOnes) {
  KOVPollLoop loop;
  std::vector<int> ran;
  loop.startTimer(milliseconds(30), [&] { ran.push_back(30); });
  const KOVEventLoop::TimerId cancelled = loop.startTimer(milliseconds(10), [&] { ran.push_back(-1); });
  loop.startTimer(milliseconds(0), [&] {
    ran.push_back(0);
    loop.cancelTimer(cancelled);
  });
  loop.post([&] { ran.push_back(100); });
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 3; }));
  EXPECT_EQ(ran, (std::vector<int>{100, 0, 30}));
  // Nothing is left to wait for: the loop says so instead of blocking.
  EXPECT_FALSE(loop.runUntil([] { return false; }));
}

TEST(PollLoop, WorkPostedFromAnotherThreadWakesTheLoopAndRunsInOrderOnIt) {
  KOVPollLoop loop;
  std::vector<int> ran;
  std::vector<std::thread::id> threads;
  int sockets[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  loop.watchSocket(sockets[0], KOVSocketRead, [](uint32_t) {});  // keeps the loop waiting
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) {
      loop.post([&, i] {
        ran.push_back(i);
        threads.push_back(std::this_thread::get_id());
      });
    }
  });
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 20; }));
  worker.join();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ran[static_cast<std::size_t>(i)], i);
  for (const std::thread::id thread : threads) EXPECT_EQ(thread, std::this_thread::get_id());
  loop.unwatchSocket(sockets[0]);
  ::close(sockets[0]);
  ::close(sockets[1]);
}

TEST(PollLoop, SocketWatchReportsReadinessUntilUnwatchedEvenFromItsOwnHandler) {
  KOVPollLoop loop;
  int sockets[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, sockets), 0);
  std::vector<uint32_t> seen;
  int otherCalls = 0;
  // Sockets are handled in the order of their descriptors, the lower one first.
  loop.watchSocket(sockets[0], KOVSocketWrite, [&](uint32_t ready) {
    seen.push_back(ready);
    loop.unwatchSocket(sockets[0]);
    loop.unwatchSocket(sockets[1]);  // ready in the same round: its handler must not run
  });
  ASSERT_EQ(::write(sockets[0], "x", 1), 1);
  loop.watchSocket(sockets[1], KOVSocketRead, [&](uint32_t) { ++otherCalls; });
  loop.startTimer(milliseconds(50), [] {});
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  EXPECT_EQ(seen, (std::vector<uint32_t>{KOVSocketWrite}));
  EXPECT_EQ(otherCalls, 0);
  ::close(sockets[0]);
  ::close(sockets[1]);
}

TEST(PollLoop, QuitFromAHandlerStopsTheRunAndIsForgottenAfterwards) {
  KOVPollLoop loop;
  int later = 0;
  loop.post([&] { loop.quit(); });
  loop.post([&] { ++later; });
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  EXPECT_EQ(later, 0);
  EXPECT_TRUE(loop.runUntil([&] { return later == 1; }));
}

// run() returns once the result is delivered and the ended transaction's late completions
// have run: here the engine's request to a refused port fails nine times in a row.
TEST(PollLoop, RunReturnsOnceTheTransactionHasDeliveredItsResult) {
  const auto loop = std::make_shared<KOVPollLoop>();
  WqKOV engine;
  KOVCurlTransport::install(engine, loop);
  int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  ::close(listener);  // a port the system gave out and took back: connections are refused
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/wqmi3/pos.aspx";
  ASSERT_TRUE(engine.setEndpointUrls(url, url));

  std::vector<KOVTransactionResult> results;
  engine.startTransaction(
      sampleDetails(), KOVTransactionTypePurchase, true, false, nullptr,
      [](KOVState, const std::optional<std::string>&, const std::string&, const std::string&,
         const std::optional<std::string>&, const std::optional<std::string>&) {},
      [&](KOVTransactionResultDetails result) { results.push_back(result.transactionResult); }, nullptr);
  EXPECT_TRUE(loop->run(engine));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0], KOVTransactionResultTimeout);
  EXPECT_FALSE(engine.isTransactionInProgress());
  // With no transaction in progress it returns at once.
  EXPECT_TRUE(loop->run(engine));
}

}  // namespace
}  // namespace kovtest
