// Every completion runs once, later, on the event loop: after cancel, invalidation and
// destruction too, and a completion may end or reuse its own session.
#include "SessionFixture.h"

namespace kovtest {
namespace {

using Delivery = SessionFixture;

enum class Ending { Cancel, Invalidate, Destroy };
struct EndingCase {
  Ending ending;
  bool onTheWire;  // the server holds the requests (else they end right after posting)
};

class EndedRequests : public SessionFixture, public testing::WithParamInterface<EndingCase> {};

TEST_P(EndedRequests, CompleteOnceEachWithCancelledLaterAndNeverInsideTheCall) {
  const auto [ending, onTheWire] = GetParam();
  server.setHandler([](const HttpRequest&) { return ServerAction::hold(); });
  std::vector<KOVRequestId> ids;
  for (int i = 0; i < 3; ++i) ids.push_back(post("<Scr/>"));
  if (onTheWire) {
    ASSERT_TRUE(waitUntil([&] { return server.requests().size() == 3; }));
  }
  {
    InsideCall inside(recorder);
    if (ending == Ending::Cancel) {
      for (const KOVRequestId id : ids) session->cancel(id);
    } else if (ending == Ending::Invalidate) {
      session->invalidateAndCancel();
    } else {
      session.reset();
    }
    EXPECT_TRUE(recorder.calls.empty());
  }
  ASSERT_TRUE(recorder.waitFor(3));
  settle();
  ASSERT_EQ(recorder.calls.size(), 3u);
  for (const Completion& done : recorder.calls) {
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->domain, NSURLErrorDomain);
    EXPECT_EQ(done.error->code, NSURLErrorCancelled);
    EXPECT_FALSE(done.data);
  }
  EXPECT_FALSE(recorder.ranInsideCall);
  EXPECT_EQ(server.requests().size(), onTheWire ? 3u : 0u);
  // Nothing of the session stays connected.
  EXPECT_TRUE(waitUntil([&] { return server.connectionsClosed() == server.connectionsAccepted(); }));
  if (!session) return;

  // A second cancel, or one of an id never handed out, changes nothing; an invalidated
  // session posts nothing, but still answers once, later.
  session->cancel(ids[0]);
  session->cancel(ids.back() + 1000);
  if (ending == Ending::Invalidate) post("<Scr/>");
  const std::size_t expected = ending == Ending::Invalidate ? 4u : 3u;
  ASSERT_TRUE(recorder.waitFor(expected));
  settle();
  ASSERT_EQ(recorder.calls.size(), expected);
  EXPECT_EQ(recorder.calls.back().error->code, NSURLErrorCancelled);
  EXPECT_FALSE(recorder.ranInsideCall);
  EXPECT_EQ(server.requests().size(), onTheWire ? 3u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndedRequests,
                         testing::Values(EndingCase{Ending::Cancel, true}, EndingCase{Ending::Invalidate, true},
                                         EndingCase{Ending::Destroy, true}, EndingCase{Ending::Cancel, false},
                                         EndingCase{Ending::Invalidate, false}));

TEST_F(Delivery, CancelAfterTheAnswerKeepsTheAnswer) {
  const KOVRequestId id = post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(1));
  session->cancel(id);
  settle();
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_FALSE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].data, "<Scr></Scr>");
}

// A completion may post the next request, or destroy its session with another request
// still outstanding, which then completes as cancelled.
TEST_F(Delivery, ACompletionMayPostAgainAndThenDestroyTheSession) {
  server.setHandler([](const HttpRequest& request) {
    return request.body == "held" ? ServerAction::hold() : ServerAction::answer("<Scr/>");
  });
  post("held");
  int completions = 0;
  std::optional<int32_t> lastError;
  std::function<void()> postNext = [&] {
    session->post(url(), "<Scr/>", 10.0, [&](const auto&, const auto&, const std::optional<KOVError>& error) {
      if (error) lastError = error->code;
      if (++completions < 3) {
        postNext();
      } else {
        session.reset();  // from inside its own completion
      }
    });
  };
  postNext();
  ASSERT_TRUE(waitUntil([&] { return completions == 3 && recorder.calls.size() == 1; }));
  settle();
  EXPECT_EQ(completions, 3);
  EXPECT_FALSE(lastError);
  EXPECT_EQ(server.requests().size(), 4u);
  ASSERT_EQ(recorder.calls.size(), 1u);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorCancelled);
}

}  // namespace
}  // namespace kovtest
