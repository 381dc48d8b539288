// The engine through the Qt transport against a loopback service: one transaction from its
// request to its result, on one connection, with no thread of the transport's own.
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <QDir>

#include <gtest/gtest.h>

#include <vector>

#include "QtTestSupport.h"
#include "SampleDetails.h"
#include "TestHttpServer.h"

namespace kovtest {
namespace {

TEST(EngineOverQt, RunsATransactionToItsResultOverOneKeptAliveConnection) {
  TestHttpServer server;
  ASSERT_TRUE(server.start());
  server.setHandler([](const HttpRequest& request) {
    if (request.body.contains("<Amount>")) {
      return ServerAction::answer("<Scr><DL1>INSERT CARD</DL1><DL2>$12.50</DL2><Tmo>5</Tmo></Scr>");
    }
    return ServerAction::answer(
        "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><AC>A1B2</AC></Result></Scr>");
  });

  WqKOV engine;
  KOVQtTransport::install(engine);
  ASSERT_TRUE(engine.hasSessionFactory());
  ASSERT_TRUE(engine.setEndpointUrls(server.url().toStdString(), server.url().toStdString()));

  const auto threads = [] { return QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(); };
  const auto threadsBefore = threads();
  std::vector<KOVTransactionResultDetails> results;
  std::vector<std::string> firstLines;
  engine.startTransaction(
      sampleDetails(), KOVTransactionTypePurchase, true, false, nullptr,
      [&](KOVState, const std::optional<std::string>&, const std::string& firstLine, const std::string&,
          const std::optional<std::string>&, const std::optional<std::string>&) { firstLines.push_back(firstLine); },
      [&](KOVTransactionResultDetails result) { results.push_back(std::move(result)); }, nullptr);
  EXPECT_TRUE(results.empty());

  ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultSucceeded);
  EXPECT_EQ(results[0].authCode, "A1B2");
  EXPECT_EQ(firstLines, std::vector<std::string>{"INSERT CARD"});

  ASSERT_EQ(server.requests().size(), 2u);
  for (const HttpRequest& request : server.requests()) {
    EXPECT_EQ(request.connection, 1);
    // The key is masked in logs only; the service gets it.
    EXPECT_TRUE(request.body.contains("key=\"s3cret\"")) << request.body.toStdString();
  }
  EXPECT_TRUE(server.requests()[0].body.contains("<Amount>12.50</Amount>"));
  EXPECT_FALSE(server.requests()[1].body.contains("<Amount>"));

  // The completed transaction released its session, and with it the connection.
  EXPECT_FALSE(engine.hasSession());
  EXPECT_TRUE(waitUntil([&] { return server.connectionsClosed() == 1; }));
  settle();
  EXPECT_EQ(results.size(), 1u);
  EXPECT_EQ(server.requests().size(), 2u);
  // The transport works from the event loop alone: no thread of its own.
  EXPECT_EQ(threads(), threadsBefore);
}

}  // namespace
}  // namespace kovtest
