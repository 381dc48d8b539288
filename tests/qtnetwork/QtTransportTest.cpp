// The curl transport on Qt's event loop: the loop under the session (socket notifiers, timers,
// work posted from any thread), and a session on it running the cases of ../curl/SessionCases.cpp:
// writes that must wait, requests ended before their answer.
#include <KOVModule/KOVEventLoop.h>
#include <KOVModule/KOVQtTransport.h>

#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SessionFixtures.h"

namespace {

using namespace kovtest;

// Runs Qt's event loop until done() holds or the deadline passes.
bool runUntil(const std::function<bool()>& done, int deadlineMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < deadlineMs) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

bool onLoopThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// What a row does with the loop, and what it saw, in order.
struct Scene {
  KOVEventLoop& loop;
  std::vector<std::string> seen;
  std::vector<int> sockets;  // closed once the loop has gone

  // A connected pair whose ends are each readable (one byte waits) and writable.
  std::pair<int, int> readablePair() {
    int pair[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    for (const int fd : pair) EXPECT_EQ(::write(fd, "x", 1), 1);
    sockets.insert(sockets.end(), pair, pair + 2);
    return {pair[0], pair[1]};
  }
  std::function<void()> note(std::string what) {
    return [this, what] { seen.push_back(onLoopThread() ? what : what + " off the loop's thread"); };
  }
};

struct LoopCase {
  const char* name;
  std::function<void(Scene&)> setUp;
  std::vector<std::string> expected;
  bool dropLoop = false;  // the loop goes right after setUp
};

class QtLoop : public testing::TestWithParam<LoopCase> {};

TEST_P(QtLoop, RunsHandlersLaterOnItsThreadAsWatchedAndTimed) {
  const LoopCase& row = GetParam();
  // The main queue the transport hands out is the loop it drives its sessions with.
  std::shared_ptr<KOVEventLoop> loop = std::dynamic_pointer_cast<KOVEventLoop>(KOVQtTransport::mainQueue());
  ASSERT_TRUE(loop);
  Scene scene{*loop, {}, {}};
  row.setUp(scene);
  EXPECT_TRUE(scene.seen.empty());
  if (row.dropLoop) loop.reset();
  runUntil([&] { return scene.seen.size() >= row.expected.size(); }, 3000);
  runUntil([] { return false; }, 50);  // what is seen beyond the row's expectation shows too
  EXPECT_EQ(scene.seen, row.expected);
  loop.reset();
  for (const int fd : scene.sockets) ::close(fd);
}

// A watch's handler that records the events reported and ends the watches of fds.
KOVEventLoop::SocketHandler noteAndUnwatch(Scene& scene, std::string name, std::vector<int> fds) {
  return [&scene, name, fds](uint32_t ready) {
    scene.seen.push_back(name + " " + std::to_string(ready));
    for (const int fd : fds) scene.loop.unwatchSocket(fd);
  };
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QtLoop,
    testing::Values(
        LoopCase{"posted_in_order", [](Scene& s) { for (const char* w : {"a", "b", "c"}) s.loop.post(s.note(w)); },
                 {"a", "b", "c"}},
        LoopCase{"posted_from_another_thread_run_on_the_loops",
                 [](Scene& s) {
                   std::thread([&s] { for (const char* w : {"a", "b", "c"}) s.loop.post(s.note(w)); }).join();
                 },
                 {"a", "b", "c"}},
        // Work queued when the loop goes is not lost: the application's loop runs it.
        LoopCase{.name = "posted_then_loop_gone",
                 .setUp = [](Scene& s) { for (const char* w : {"a", "b"}) s.loop.post(s.note(w)); },
                 .expected = {"a", "b"},
                 .dropLoop = true},
        LoopCase{"timers_by_delay_one_cancelled",
                 [](Scene& s) {
                   s.loop.startTimer(std::chrono::milliseconds(40), s.note("40 ms"));
                   const auto cancelled = s.loop.startTimer(std::chrono::milliseconds(20), s.note("20 ms"));
                   s.loop.startTimer(std::chrono::milliseconds(0), [&s, cancelled, note = s.note("0 ms")] {
                     note();
                     s.loop.cancelTimer(cancelled);
                     s.loop.cancelTimer(cancelled);  // a second time changes nothing
                   });
                 },
                 {"0 ms", "40 ms"}},
        // Unwatching in its handler is the only thing that stops an always-writable socket.
        LoopCase{"write_watch_until_unwatched",
                 [](Scene& s) {
                   const int fd = s.readablePair().first;
                   s.loop.watchSocket(fd, KOVSocketWrite, noteAndUnwatch(s, "write", {fd}));
                 },
                 {"write 2"}},
        // Both ends are ready at once: whichever runs first ends the other's watch too.
        LoopCase{"unwatched_by_another_handler",
                 [](Scene& s) {
                   const auto [a, b] = s.readablePair();
                   s.loop.watchSocket(a, KOVSocketRead, noteAndUnwatch(s, "read", {a, b}));
                   s.loop.watchSocket(b, KOVSocketRead, noteAndUnwatch(s, "read", {a, b}));
                 },
                 {"read 1"}},
        // A later watch of the same socket replaces the events and the handler.
        LoopCase{"rewatched_for_other_events",
                 [](Scene& s) {
                   const int fd = s.readablePair().first;
                   s.loop.watchSocket(fd, KOVSocketRead | KOVSocketWrite, noteAndUnwatch(s, "first", {fd}));
                   s.loop.watchSocket(fd, KOVSocketRead, noteAndUnwatch(s, "second", {fd}));
                 },
                 {"second 1"}},
        // Ending the watch of a socket forgotten (hence unknown) changes nothing.
        LoopCase{"forgotten_before_ready",
                 [](Scene& s) {
                   const int fd = s.readablePair().first;
                   s.loop.watchSocket(fd, KOVSocketRead | KOVSocketWrite, noteAndUnwatch(s, "ready", {}));
                   s.loop.forgetSocket(fd);
                   s.loop.unwatchSocket(fd);
                   s.loop.forgetSocket(fd);
                 },
                 {}}),
    byName);

INSTANTIATE_TEST_SUITE_P(Qt, EndedRequests, kEndings, byName);
INSTANTIATE_TEST_SUITE_P(Qt, WriteReadiness, kWaitingWrites, byName);

}  // namespace

// A session on Qt's loop: its socket notifiers and timers, and a connect a short time-out ends is
// ended by a Qt timer; completions come from Qt's loop even when the session has gone.
kovtest::Client kovtest::makeClient() { return {KOVQtTransport::sessionFactory()(), runUntil}; }

// The tests run on the thread of a QCoreApplication, as hosts of the Qt layer do.
int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
