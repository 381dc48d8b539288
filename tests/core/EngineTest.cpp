#include "EngineFixture.h"

using namespace kovtest;

TEST_F(EngineTest, StartPostsTheTransactionRequestWithThirtySeconds) {
  start();
  ASSERT_EQ(net->posts.size(), 1u);
  EXPECT_EQ(last()->url, "https://secure.kov-payments.example/wqmi3/pos.aspx");
  EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  EXPECT_EQ(last()->body, *engine.generateRequest());
  EXPECT_TRUE(engine.isTransactionInProgress());
  EXPECT_EQ(engine.currentTxnTypeStr(), "Purchase");
  EXPECT_EQ(engine.maxNumberOfOfConsecutiveTimeouts(), 8);
  EXPECT_EQ(engine.currentTimeoutInSeconds(), 30);
}

TEST_F(EngineTest, UatChoosesTheTestEndpointForEveryRequest) {
  start(false, KOVTransactionTypeRefund, true);
  answer(kCardScreen);
  fail();
  for (const auto& p : net->posts) EXPECT_EQ(p->url, "https://uat.kov-payments.example/wqmi3/pos.aspx");
  EXPECT_EQ(net->posts.size(), 3u);
}

TEST_F(EngineTest, RecoverSendsAStatusRequestFromACopyOfTheRecoveryRecord) {
  KOVTransactionRecoveryDetails r;
  r.userName = "merchant";
  r.key = "k";
  r.stationId = "ST02";
  r.txnRef = "T-9";
  r.skipSignatureVerification = true;
  recover(r);
  ASSERT_EQ(net->posts.size(), 1u);
  EXPECT_EQ(last()->body,
            "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"k\"><TxnRef>T-9</TxnRef><Station>ST02</Station>"
            "<TxnType>Status</TxnType></Scr>");
  EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  EXPECT_EQ(engine.currentTxnType(), KOVTransactionTypePurchase);
  EXPECT_EQ(engine.currentTxnTypeStr(), std::nullopt);
  EXPECT_TRUE(engine.currentTxnDetails()->skipSignatureVerification);
  EXPECT_EQ(engine.currentTxnDetails()->amount, std::nullopt);
  r.txnRef = "changed";
  answer(kCardScreen);
  EXPECT_NE(last()->body.find("<TxnRef>T-9</TxnRef>"), std::string::npos);
}

TEST_F(EngineTest, HostRecordIsReadAnewForEveryDocument) {
  start();
  details->txnRef = "T-2";
  details->key = "new-key";
  answer(kCardScreen);
  EXPECT_NE(last()->body.find("key=\"new-key\"><TxnRef>T-2</TxnRef>"), std::string::npos);
}

TEST_F(EngineTest, DebugLogMasksTheKeyAndLogsEachDocumentOnce) {
  details->key = "";
  start(true);
  answer(kCardScreen);
  ASSERT_EQ(log.size(), 3u);
  EXPECT_EQ(log[0].type, KOVTransactionLogEntryRequestContent);
  EXPECT_EQ(log[0].text, sanitizeXml(net->posts[0]->body));
  EXPECT_NE(log[0].text.find("key=\"......\""), std::string::npos);
  EXPECT_EQ(log[1].type, KOVTransactionLogEntryResponseContent);
  EXPECT_EQ(log[1].text, kCardScreen);
  EXPECT_EQ(log[2].type, KOVTransactionLogEntryRequestContent);
}

TEST_F(EngineTest, KeyNeverReachesTheLogEvenWhenTheUserNameLooksLikeAKey) {
  details->userName = "xkey=";
  details->key = "TopSecret";
  start(true);
  fail();
  answer("<Scr><Complete>1</Complete></Scr>");
  ASSERT_FALSE(log.empty());
  for (const auto& entry : log) EXPECT_EQ(entry.text.find("TopSecret"), std::string::npos) << entry.text;
  EXPECT_NE(log[0].text.find("user=\"xkey=\" key=\"......\""), std::string::npos) << log[0].text;
}

TEST_F(EngineTest, DebugOffLogsNothingEvenWithAHandler) {
  start(false);
  fail();
  answer(kCardScreen);
  EXPECT_TRUE(log.empty());
}

TEST_F(EngineTest, SecondStartWhileRunningGetsExistingRequestInProgressLater) {
  start();
  std::vector<KOVTransactionResultDetails> second;
  engine.startTransaction(sampleDetails(), KOVTransactionTypeAuth, true, false, nullptr, nullptr,
                          [&](KOVTransactionResultDetails r) { second.push_back(r); }, nullptr);
  EXPECT_TRUE(second.empty()) << "delivered on the main queue, not inside the call";
  net->queue->drain();
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].transactionResult, KOVTransactionResultExistingRequestInProgress);
  KOVTransactionRecoveryDetails r;
  engine.recoverTransaction(r, false, false, nullptr, nullptr,
                            [&](KOVTransactionResultDetails res) { second.push_back(res); }, nullptr);
  net->queue->drain();
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[1].transactionResult, KOVTransactionResultExistingRequestInProgress);
  EXPECT_EQ(net->posts.size(), 1u);
  EXPECT_FALSE(engine.isUAT());
  answer(kCompleteApproved);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultSucceeded);
}

TEST_F(EngineTest, AmountThatDoesNotFitIsNeverSent) {
  details->amount = KOVDecimal::parse("123456789012345678901234567890");
  start();
  net->queue->drain();
  EXPECT_TRUE(net->posts.empty());
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultFailed);
  EXPECT_EQ(results[0].responseText,
            "The amount cannot be sent: in cents it does not fit in a signed 64-bit number.");
  EXPECT_FALSE(engine.isTransactionInProgress());
}

TEST_F(EngineTest, SessionIsReleasedAfterCompletionAndKeptAfterTimeout) {
  start();
  answer(kCompleteApproved);
  EXPECT_FALSE(engine.hasSession());
  EXPECT_EQ(net->sessionsInvalidated, 1);
  start();
  EXPECT_EQ(net->sessionsMade, 2);
  for (int i = 0; i < 9; ++i) fail();
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[1].transactionResult, KOVTransactionResultTimeout);
  EXPECT_TRUE(engine.hasSession());
  start();
  EXPECT_EQ(net->sessionsMade, 2) << "the timed-out transaction's session is reused";
}

TEST_F(EngineTest, StartFromInsideTheResultHandlerKeepsTheNewTransaction) {
  std::vector<KOVTransactionResultDetails> nextResults;
  engine.startTransaction(details, KOVTransactionTypePurchase, false, false, nullptr, nullptr,
                          [&](KOVTransactionResultDetails) {
                            engine.startTransaction(sampleDetails(), KOVTransactionTypeRefund, false, false, nullptr,
                                                    nullptr,
                                                    [&](KOVTransactionResultDetails r) { nextResults.push_back(r); },
                                                    nullptr);
                          },
                          nullptr);
  answer(kCompleteApproved);
  EXPECT_TRUE(engine.isTransactionInProgress());
  EXPECT_TRUE(engine.hasResultHandler());
  EXPECT_EQ(engine.currentTxnTypeStr(), "Refund");
  answer("<Scr><Complete>1</Complete><Result><RC>p8</RC></Result></Scr>");
  ASSERT_EQ(nextResults.size(), 1u);
  EXPECT_EQ(nextResults[0].transactionResult, KOVTransactionResultUserKeyNotMatched);
}

TEST_F(EngineTest, NoSessionFactoryEndsWithTheTimeoutResult) {
  WqKOV bare;
  std::vector<KOVTransactionResultDetails> got;
  bare.startTransaction(details, KOVTransactionTypePurchase, false, false, nullptr, nullptr,
                        [&](KOVTransactionResultDetails r) { got.push_back(r); }, nullptr);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].transactionResult, KOVTransactionResultTimeout);
}

struct EndpointCase {
  const char* url;
  bool accepted;
};

class Endpoints : public ::testing::TestWithParam<EndpointCase> {};

TEST_P(Endpoints, HttpsAnywhereAndHttpOnlyForLoopback) {
  std::string why;
  EXPECT_EQ(WqKOV::isAcceptableEndpointUrl(GetParam().url, &why), GetParam().accepted) << GetParam().url;
  EXPECT_EQ(why.empty(), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Endpoints,
    ::testing::Values(EndpointCase{"https://cert.example.com/wqmi3/pos.aspx", true},
                      EndpointCase{"HTTPS://cert.example.com:8443/wqmi3/pos.aspx", true},
                      EndpointCase{"http://127.0.0.1:8080/wqmi3/pos.aspx", true},
                      EndpointCase{"http://127.10.0.1/wqmi3/pos.aspx", true},
                      EndpointCase{"http://localhost:9/wqmi3/pos.aspx", true},
                      EndpointCase{"http://[::1]:8080/wqmi3/pos.aspx", true},
                      EndpointCase{"http://192.168.1.5/wqmi3/pos.aspx", false},
                      EndpointCase{"http://127.0.0.1.evil.example/", false},
                      EndpointCase{"http://127.0.0.1@evil.example/", false},
                      EndpointCase{"http://example.com/", false}, EndpointCase{"ftp://127.0.0.1/", false},
                      EndpointCase{"https:///path", false}, EndpointCase{"https://a b/", false},
                      EndpointCase{"", false}));

TEST_F(EngineTest, RefusedEndpointChangesNothingAndSaysWhy) {
  engine.setDebugLog(true, logHandler());  // the host's settings, before any transaction
  EXPECT_FALSE(engine.setEndpointUrls("https://ok.example/wqmi3/pos.aspx", "http://10.0.0.1/wqmi3/pos.aspx"));
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].type, KOVTransactionLogEntryInfo);
  EXPECT_EQ(log[0].text, "KOV endpoint refused: plain http is accepted only for a loopback host; use https.");
  EXPECT_EQ(engine.endpointUrl(true), kWqKOVUATUrl);
  ASSERT_TRUE(engine.setEndpointUrls("http://127.0.0.1:1/a", "http://127.0.0.1:2/b"));
  start();
  EXPECT_EQ(last()->url, "http://127.0.0.1:2/b");
  engine.resetEndpointUrls();
  EXPECT_EQ(engine.endpointUrl(false), kWqKOVSecUrl);
}

TEST(EngineLifetime, CompletionsAfterTheEngineIsGoneDoNothing) {
  auto engine = std::make_unique<WqKOV>();
  auto net = wireFakeNetwork(*engine);
  int results = 0;
  engine->startTransaction(sampleDetails(), KOVTransactionTypePurchase, false, false, nullptr, nullptr,
                           [&](KOVTransactionResultDetails) { ++results; }, nullptr);
  net->answer(net->last(), kCardScreen);
  engine->sendButtonRequest("B1", "CANCEL");
  ASSERT_EQ(net->outstanding().size(), 2u);
  engine.reset();      // cancels both; their completions are still queued
  net->queue->drain();  // and run against an engine that no longer exists
  EXPECT_EQ(results, 0);
  EXPECT_TRUE(net->outstanding().empty());
}
