// One kept-alive connection per session, and no request on the wire twice.
#include <QBuffer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "SessionFixture.h"

namespace kovtest {
namespace {

using QtConnection = SessionFixture;

TEST_F(QtConnection, TwentyPostsShareOneConnection) {
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

TEST_F(QtConnection, RequestLostOnAReusedConnectionReachesTheServerOnce) {
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

TEST_F(QtConnection, AnswerCutOffMidwayIsAConnectionLostAndNotRequestedAgain) {
  server.setHandler([](const HttpRequest&) {
    ServerAction action = ServerAction::answer(QByteArray(1000, 'z'));
    action.cutAfterBytes = 200;  // the head and part of the body
    return action;
  });
  post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(1));
  settle(300);
  ASSERT_EQ(recorder.calls.size(), 1u);
  ASSERT_TRUE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorNetworkConnectionLost);
  EXPECT_FALSE(recorder.calls[0].data);
  EXPECT_EQ(server.requests().size(), 1u);
}

// The same scenario with a plain buffered post: Qt sends the request a second time. This
// is what the test above would see if the transport buffered its bodies.
TEST_F(QtConnection, BufferedPostOfTheSameScenarioIsSentTwice) {
  int seen = 0;
  server.setHandler([&seen](const HttpRequest& request) { return dropSecond(request, seen); });
  QNetworkAccessManager manager;
  int finished = 0;
  auto postBuffered = [&](const QByteArray& body) {
    QNetworkRequest request(server.url());
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml"));
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    QNetworkReply* reply = manager.post(request, body);
    QObject::connect(reply, &QNetworkReply::finished, reply, [&finished, reply] {
      ++finished;
      reply->deleteLater();
    });
  };
  postBuffered("<Scr>one</Scr>");
  ASSERT_TRUE(waitUntil([&] { return finished == 1; }));
  postBuffered("<Scr>two</Scr>");
  ASSERT_TRUE(waitUntil([&] { return finished == 2; }));
  ASSERT_EQ(server.requests().size(), 3u);
  EXPECT_EQ(server.requests()[1].body, "<Scr>two</Scr>");
  EXPECT_EQ(server.requests()[2].body, "<Scr>two</Scr>");
}

}  // namespace
}  // namespace kovtest
