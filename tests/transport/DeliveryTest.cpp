// Every completion runs once, later, on the event loop: after cancel, invalidation and
// destruction too, and a completion may end or reuse its own session.
#include <QDir>

#include "SessionFixture.h"

namespace kovtest {
namespace {

using Delivery = SessionFixture;

TEST_F(Delivery, CancelCompletesOnceWithCancelledAndNeverInsideTheCall) {
  server.setHandler([](const HttpRequest&) { return ServerAction::hold(); });
  const KOVRequestId id = post("<Scr/>");
  ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 1; }));
  {
    InsideCall inside(recorder);
    session->cancel(id);
    EXPECT_TRUE(recorder.calls.empty());
  }
  ASSERT_TRUE(recorder.waitFor(1));
  ASSERT_TRUE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].error->domain, NSURLErrorDomain);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorCancelled);
  EXPECT_FALSE(recorder.calls[0].data);
  EXPECT_FALSE(recorder.ranInsideCall);

  // A second cancel, or one of an id never handed out, changes nothing.
  session->cancel(id);
  session->cancel(id + 1000);
  settle();
  EXPECT_EQ(recorder.calls.size(), 1u);
}

TEST_F(Delivery, CancelOrInvalidateRightAfterPostingStillCompletesEachOnce) {
  const KOVRequestId first = post("<Scr/>");
  post("<Scr/>");
  post("<Scr/>");
  {
    InsideCall inside(recorder);
    session->cancel(first);
    session->invalidateAndCancel();
  }
  ASSERT_TRUE(recorder.waitFor(3));
  settle();
  ASSERT_EQ(recorder.calls.size(), 3u);
  for (const Completion& done : recorder.calls) {
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->code, NSURLErrorCancelled);
  }
  EXPECT_FALSE(recorder.ranInsideCall);
  EXPECT_TRUE(server.requests().empty());
}

TEST_F(Delivery, CancelAfterTheAnswerKeepsTheAnswer) {
  const KOVRequestId id = post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(1));
  session->cancel(id);
  settle();
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_FALSE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].data, "<Scr></Scr>");
}

TEST_F(Delivery, InvalidateAndCancelCompletesEachOutstandingRequestOnceAndClosesTheLine) {
  server.setHandler([](const HttpRequest&) { return ServerAction::hold(); });
  for (int i = 0; i < 3; ++i) post("<Scr/>");
  ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 3; }));
  {
    InsideCall inside(recorder);
    session->invalidateAndCancel();
    EXPECT_TRUE(recorder.calls.empty());
  }
  ASSERT_TRUE(recorder.waitFor(3));
  settle();
  ASSERT_EQ(recorder.calls.size(), 3u);
  for (const Completion& done : recorder.calls) {
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->code, NSURLErrorCancelled);
  }
  EXPECT_FALSE(recorder.ranInsideCall);
  // Nothing of the session stays connected.
  EXPECT_TRUE(waitUntil([&] { return server.connectionsClosed() == server.connectionsAccepted(); }));

  // An invalidated session posts nothing, but still answers once, later.
  post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(4));
  ASSERT_TRUE(recorder.calls[3].error);
  EXPECT_EQ(recorder.calls[3].error->code, NSURLErrorCancelled);
  EXPECT_EQ(server.requests().size(), 3u);
  EXPECT_FALSE(recorder.ranInsideCall);
}

TEST_F(Delivery, InvalidatingAfterAnAnswerClosesThePooledConnection) {
  post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(1));
  EXPECT_EQ(server.connectionsClosed(), 0);
  session->invalidateAndCancel();
  EXPECT_TRUE(waitUntil([&] { return server.connectionsClosed() == 1; }));
}

TEST_F(Delivery, DestroyingTheSessionStillCompletesEveryRequestOnce) {
  server.setHandler([](const HttpRequest&) { return ServerAction::hold(); });
  post("<Scr/>");
  post("<Scr/>");
  ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 2; }));
  {
    InsideCall inside(recorder);
    session.reset();
  }
  ASSERT_TRUE(recorder.waitFor(2));
  settle();
  ASSERT_EQ(recorder.calls.size(), 2u);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorCancelled);
  EXPECT_EQ(recorder.calls[1].error->code, NSURLErrorCancelled);
  EXPECT_FALSE(recorder.ranInsideCall);
}

TEST_F(Delivery, ACompletionMayPostAgainAndThenDestroyTheSession) {
  int completions = 0;
  std::optional<int32_t> lastError;
  std::function<void()> postNext;
  postNext = [&] {
    session->post(url(), "<Scr/>", 10.0,
                  [&](const std::optional<std::string>&, const std::optional<KOVURLResponse>&,
                      const std::optional<KOVError>& error) {
                    ++completions;
                    if (error) lastError = error->code;
                    if (completions < 3) {
                      postNext();
                    } else {
                      session.reset();  // from inside its own completion
                    }
                  });
  };
  postNext();
  ASSERT_TRUE(waitUntil([&] { return completions == 3; }));
  settle();
  EXPECT_EQ(completions, 3);
  EXPECT_FALSE(lastError);
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(server.requests().size(), 3u);
}

TEST_F(Delivery, ACompletionMayDestroyTheSessionWithOtherRequestsOutstanding) {
  int held = 0;
  server.setHandler([&held](const HttpRequest& request) {
    return request.body == "first" ? ServerAction::answer("<Scr/>") : (++held, ServerAction::hold());
  });
  post("second");
  ASSERT_TRUE(waitUntil([&] { return held == 1; }));
  Recorder first;
  session->post(url(), "first", 10.0, [&](const auto& data, const auto& response, const auto& error) {
    first.handler()(data, response, error);
    session.reset();
  });
  ASSERT_TRUE(first.waitFor(1));
  ASSERT_TRUE(recorder.waitFor(1));
  settle();
  EXPECT_EQ(first.calls.size(), 1u);
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorCancelled);
}

}  // namespace
}  // namespace kovtest

namespace kovtest {
namespace {

int threadCount() {
  return static_cast<int>(QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// The transport works from the event loop alone: no thread of its own, none left behind.
TEST_F(Delivery, ASessionRunsWithoutAThreadOfItsOwn) {
  const int before = threadCount();
  for (std::size_t i = 1; i <= 3; ++i) {
    post("<Scr/>");
    ASSERT_TRUE(recorder.waitFor(i));
    EXPECT_EQ(threadCount(), before);
  }
  session.reset();
  EXPECT_EQ(threadCount(), before);
}

}  // namespace
}  // namespace kovtest
