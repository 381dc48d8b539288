// The library's own event loop: timers, sockets and posted work in order, and run()'s end.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/WqKOV.h>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "SampleDetails.h"
#include "TestHttpServer.h"

namespace kovtest {
namespace {

using std::chrono::milliseconds;

struct SocketPair {
  int fd[2] = {-1, -1};
  SocketPair() { EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fd), 0); }
  ~SocketPair() {
    ::close(fd[0]);
    ::close(fd[1]);
  }
};

TEST(PollLoop, RunsPostedWorkThenTimersInDueOrderSkipsCancelledOnesAndStopsOnQuit) {
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

  loop.post([&] { loop.quit(); });
  loop.post([&] { ran.push_back(1); });
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  EXPECT_EQ(ran.size(), 3u);
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 4; }));  // quit is forgotten
}

TEST(PollLoop, WorkPostedFromAnotherThreadWakesTheLoopAndRunsInOrderOnIt) {
  KOVPollLoop loop;
  SocketPair idle;
  loop.watchSocket(idle.fd[0], KOVSocketRead, [](uint32_t) {});  // the loop waits in poll()
  std::vector<std::pair<int, std::thread::id>> ran;
  std::thread worker([&] {
    for (int i = 0; i < 20; ++i) loop.post([&, i] { ran.emplace_back(i, std::this_thread::get_id()); });
  });
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 20; }));
  worker.join();
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ran[std::size_t(i)], std::make_pair(i, std::this_thread::get_id()));
}

TEST(PollLoop, SocketWatchReportsReadinessUntilUnwatchedEvenFromAnotherHandler) {
  KOVPollLoop loop;
  SocketPair pair;
  std::vector<uint32_t> seen;
  int otherCalls = 0;
  // Sockets are handled in the order of their descriptors, the lower one first.
  loop.watchSocket(pair.fd[0], KOVSocketWrite, [&](uint32_t ready) {
    seen.push_back(ready);
    loop.unwatchSocket(pair.fd[0]);
    loop.unwatchSocket(pair.fd[1]);  // ready in the same round: its handler must not run
  });
  ASSERT_EQ(::write(pair.fd[0], "x", 1), 1);
  loop.watchSocket(pair.fd[1], KOVSocketRead, [&](uint32_t) { ++otherCalls; });
  loop.startTimer(milliseconds(50), [] {});
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  EXPECT_EQ(seen, (std::vector<uint32_t>{KOVSocketWrite}));
  EXPECT_EQ(otherCalls, 0);
}

// run() returns once the result is delivered and the ended transaction's late completions
// have run: here the engine's request to a refused port fails nine times in a row.
TEST(PollLoop, RunReturnsOnceTheTransactionHasDeliveredItsResult) {
  const auto loop = std::make_shared<KOVPollLoop>();
  WqKOV engine;
  KOVCurlTransport::install(engine, loop);
  const std::string url = TestHttpServer::refusedUrl().toStdString();
  ASSERT_TRUE(engine.setEndpointUrls(url, url));
  std::vector<KOVTransactionResult> results;
  engine.startTransaction(
      sampleDetails(), KOVTransactionTypePurchase, true, false, nullptr,
      [](KOVState, const std::optional<std::string>&, const std::string&, const std::string&,
         const std::optional<std::string>&, const std::optional<std::string>&) {},
      [&](KOVTransactionResultDetails result) { results.push_back(result.transactionResult); }, nullptr);
  EXPECT_TRUE(loop->run(engine));
  EXPECT_EQ(results, std::vector<KOVTransactionResult>{KOVTransactionResultTimeout});
  EXPECT_FALSE(engine.isTransactionInProgress());
  EXPECT_TRUE(loop->run(engine));  // nothing in progress: returns at once
}

}  // namespace
}  // namespace kovtest
