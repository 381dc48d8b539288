// What a curl session does whichever loop drives it (each test binary instantiates these for
// its own loop, see makeClient): writes that must wait, and requests ended before their answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SessionFixtures.h"

namespace kovtest {
namespace {

// Writing that must wait (LateReader) goes on only when the loop reports write readiness; a
// loop that never does leaves curl waiting until the request's time-out, far beyond this
// test's bound. A time-out shorter than the second a full listen queue takes ends the
// connect: as on a network that drops it, nothing of the request can have left.
TEST_P(WriteReadiness, IsWaitedForAndReported) {
  const WaitingWrite& row = GetParam();
  const std::string body = row.fullBacklog ? std::string("<Scr/>") : std::string(32 << 20, 'x');
  const LateReader server(row.fullBacklog, body.size());
  const Client client = makeClient();
  client.session->post(server.url(), body, row.timeoutSeconds, client.handler());
  client.waitFor(1);
  ASSERT_EQ(client.record->calls.size(), 1u);
  const Completion& done = client.record->calls[0];
  const bool timedOut = row.timeoutSeconds < 1;
  EXPECT_EQ(done.error ? done.error->description : "",
            timedOut ? "no connection to " + server.authority + " within 1 s" : "");
  EXPECT_FALSE(done.error && done.error->requestSent);
  EXPECT_EQ(done.data, timedOut ? std::nullopt : std::optional<std::string>("ok"));
}

// Each request completes once, as cancelled, later (never from inside the call that ended it),
// and the client's end of its line is closed.
TEST_P(EndedRequests, CompleteOnceEachAsCancelledLaterAndLeaveNoLineOpen) {
  const auto [name, ending, onTheWire] = GetParam();
  Loopback sim;
  Client client = makeClient();
  const int filesBefore = openFiles();
  // Every request of a "stall-first" transaction is held by the service for half a minute.
  const std::string ref = std::string("HELD-") + name;
  const std::string held = purchase(ref, "stall-first");
  std::vector<KOVRequestId> ids;
  client.record->inside = true;
  for (int i = 0; i < 3; ++i) ids.push_back(client.session->post(sim.server.url(), held, 60.0, client.handler()));
  client.record->inside = false;
  ASSERT_TRUE(client.runUntil([&] { return !onTheWire || sim.received(ref) == 3; }));
  client.record->inside = true;
  if (ending == Ending::Cancel) for (const KOVRequestId id : ids) client.session->cancel(id);
  if (ending == Ending::Invalidate) client.session->invalidateAndCancel();
  // Destroyed, the session's own resources go with it; the loop stays to run its completions.
  if (ending == Ending::Destroy) client.session.reset();
  // A second cancel, or one of an id never handed out, changes nothing; an invalidated
  // session posts nothing, but still answers once, later.
  if (client.session) client.session->cancel(ids[0]);
  if (client.session) client.session->cancel(ids.back() + 1000);
  if (ending == Ending::Invalidate) client.session->post(sim.server.url(), held, 60.0, client.handler());
  client.record->inside = false;
  EXPECT_TRUE(client.record->calls.empty());
  const std::size_t expected = ending == Ending::Invalidate ? 4 : 3;
  ASSERT_TRUE(client.waitFor(expected));
  // The client's ends of the lines are closed; the service still holds its own.
  EXPECT_TRUE(client.runUntil([&] { return openFiles() <= filesBefore + (onTheWire ? 3 : 0); })) << openFiles();
  const auto& calls = client.record->calls;
  EXPECT_EQ(calls.size(), expected);
  for (std::size_t i = 0; i < calls.size(); ++i) {
    ASSERT_TRUE(calls[i].error);
    EXPECT_EQ(calls[i].error->code, NSURLErrorCancelled);
    // Only a request that went out can have reached the service; the invalidated session's
    // post, last, never left.
    const bool closed = ending == Ending::Invalidate && i == 3;
    EXPECT_EQ(calls[i].error->description, closed ? "the session has been closed" : "the request was cancelled");
    EXPECT_EQ(calls[i].error->requestSent, onTheWire && !closed);
    EXPECT_FALSE(calls[i].data || calls[i].response);
  }
  EXPECT_FALSE(client.record->ranInside);
  EXPECT_EQ(sim.received(ref), onTheWire ? 3u : 0u);
}

}  // namespace
}  // namespace kovtest
