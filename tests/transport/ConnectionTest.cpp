// One kept-alive connection per session, and no request on the wire twice.
#include <curl/curl.h>

#include <atomic>
#include <thread>

#include "SessionFixture.h"

namespace kovtest {
namespace {

using Connection = SessionFixture;

TEST_F(Connection, TwentyPostsShareOneConnection) {
  for (int i = 0; i < 20; ++i) {
    post("<Scr n=\"" + std::to_string(i) + "\"/>");
    ASSERT_TRUE(recorder.waitFor(static_cast<std::size_t>(i) + 1));
    ASSERT_FALSE(recorder.calls.back().error) << recorder.calls.back().error->code;
  }
  ASSERT_EQ(server.requests().size(), 20u);
  EXPECT_EQ(server.connectionsAccepted(), 1);
  for (const HttpRequest& request : server.requests()) EXPECT_EQ(request.connection, 1);
}

// The server answers the first request, then closes the kept-alive connection after
// reading the second without answering it; anything after that is answered.
ServerAction dropSecond(const HttpRequest&, int& seen) {
  ++seen;
  return seen == 2 ? ServerAction::close() : ServerAction::answer("<Scr/>");
}

TEST_F(Connection, RequestLostOnAReusedConnectionReachesTheServerOnce) {
  int seen = 0;
  server.setHandler([&seen](const HttpRequest& request) { return dropSecond(request, seen); });
  post("<Scr>one</Scr>");
  ASSERT_TRUE(recorder.waitFor(1));
  ASSERT_FALSE(recorder.calls[0].error);
  post("<Scr>two</Scr>");
  ASSERT_TRUE(recorder.waitFor(2));
  settle(300);

  ASSERT_EQ(server.requests().size(), 2u) << "the second request was sent again";
  EXPECT_EQ(server.requests()[1].body, "<Scr>two</Scr>");
  ASSERT_TRUE(recorder.calls[1].error);
  EXPECT_EQ(recorder.calls[1].error->domain, NSURLErrorDomain);
  EXPECT_EQ(recorder.calls[1].error->code, NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(recorder.calls.size(), 2u);

  // The session carries on with a new connection.
  post("<Scr>three</Scr>");
  ASSERT_TRUE(recorder.waitFor(3));
  EXPECT_FALSE(recorder.calls[2].error);
  EXPECT_EQ(server.requests().size(), 3u);
}

// The same scenario through curl alone, the body given as CURLOPT_POSTFIELDS as the session
// gives it, without the session's refusal of a second start: curl sends the request a
// second time. This is what the test above would see without that refusal.
TEST_F(Connection, PostFieldsBodyOfTheSameScenarioIsSentTwice) {
  int seen = 0;
  server.setHandler([&seen](const HttpRequest& request) { return dropSecond(request, seen); });
  const std::string target = url();
  std::atomic<bool> done = false;
  std::thread client([&] {  // curl blocks beside the test's event loop, which serves it
    CURL* easy = curl_easy_init();
    curl_easy_setopt(easy, CURLOPT_URL, target.c_str());
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, +[](char*, size_t size, size_t count, void*) { return size * count; });
    for (const char* body : {"<Scr>one</Scr>", "<Scr>two</Scr>"}) {
      curl_easy_setopt(easy, CURLOPT_POSTFIELDS, body);
      curl_easy_perform(easy);
    }
    curl_easy_cleanup(easy);
    done = true;
  });
  EXPECT_TRUE(waitUntil([&] { return done.load(); }));
  client.join();
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(server.requests()[1].body, "<Scr>two</Scr>");
  EXPECT_EQ(server.requests()[2].body, "<Scr>two</Scr>");
}

}  // namespace
}  // namespace kovtest
