#include "EngineFixture.h"

using namespace kovtest;

namespace {

const std::string kStatusBody =
    "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>"
    "<TxnType>Status</TxnType></Scr>";

class Dispatch : public EngineTest {};

}  // namespace

TEST_F(Dispatch, EightFailuresArePolledAgainAndTheNinthEndsWithTimeout) {
  start(true);
  log.clear();
  for (int i = 1; i <= 8; ++i) {
    fail(i % 2 ? NSURLErrorTimedOut : NSURLErrorCannotConnectToHost);
    ASSERT_TRUE(results.empty()) << "failure " << i;
    EXPECT_EQ(last()->body, kStatusBody);
    EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  }
  EXPECT_EQ(net->posts.size(), 9u);
  fail(NSURLErrorNetworkConnectionLost);
  EXPECT_EQ(net->posts.size(), 9u) << "nothing is sent after the ninth failure";
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultTimeout);
  EXPECT_EQ(results[0].authCode, std::nullopt);
  EXPECT_EQ(results[0].response, nullptr);
  EXPECT_FALSE(engine.isTransactionInProgress());

  std::vector<std::string> infos;
  for (const auto& entry : log) {
    if (entry.type == KOVTransactionLogEntryInfo) infos.push_back(entry.text);
  }
  ASSERT_EQ(infos.size(), 10u);
  EXPECT_EQ(infos[0], "KOV Timeout. Starting attempt 1");
  EXPECT_EQ(infos[8], "KOV Timeout. Starting attempt 9");
  EXPECT_EQ(infos[9], "KOV Timeout. Out of attempts. Triggering result.");
}

TEST_F(Dispatch, AnyAnswerResetsTheFailureCount) {
  start();
  for (int i = 0; i < 8; ++i) fail();
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 8);
  answer("not xml at all");  // still an answer: not a URL-layer failure
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0);
  for (int i = 0; i < 8; ++i) fail();
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].state, KOVStateError);
  fail();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultTimeout);
}

TEST_F(Dispatch, ErrorsOfOtherDomainsAndHttpErrorsAreAnswers) {
  start();
  net->complete(last(), std::nullopt, KOVError{"NSPOSIXErrorDomain", 54, "reset"});
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0);
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].firstLine, "");
  net->answer(last(), kCardScreen, 500);  // the body of an HTTP error is the answer
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[1].firstLine, "INSERT CARD");
  net->complete(last(), std::nullopt, std::nullopt, 200);  // neither data nor error
  EXPECT_EQ(updates.size(), 3u);
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0);
  EXPECT_EQ(loopRequestsInFlight(), 1);
}

TEST_F(Dispatch, OversizeBodyCountsAsAUrlLayerFailure) {
  start();
  std::string huge = "<Scr><DL1>";
  huge.append(kKOVMaxResponseBytes, 'x');
  huge += "</DL1></Scr>";
  answer(huge);
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 1);
  EXPECT_TRUE(updates.empty());
  EXPECT_EQ(last()->body, kStatusBody);
}

TEST_F(Dispatch, PollTimeoutFollowsTmoAndStaysFinite) {
  start();
  answer(kCardScreen);  // Tmo 45
  EXPECT_DOUBLE_EQ(last()->timeout, 45.0);
  answer("<Scr><DL1>ENTER PIN</DL1></Scr>");  // no Tmo keeps the current one
  EXPECT_DOUBLE_EQ(last()->timeout, 45.0);
  fail();  // retries use the current time-out
  EXPECT_DOUBLE_EQ(last()->timeout, 45.0);
  answer("<Scr><Tmo>0</Tmo></Scr>");
  EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  answer("<Scr><Tmo>5</Tmo></Scr>");
  answer("<Scr><Tmo>-5</Tmo></Scr>");
  EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  answer("<Scr><Tmo>soon</Tmo></Scr>");
  EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  answer("<Scr><Tmo>99999999999</Tmo></Scr>");
  EXPECT_DOUBLE_EQ(last()->timeout, 3600.0);
  answer("<Scr><Tmo> 7.9</Tmo></Scr>");
  EXPECT_DOUBLE_EQ(last()->timeout, 7.0);
}

TEST_F(Dispatch, CompletionNeedsTheExactTextOneInEitherForm) {
  start();
  for (const char* notComplete : {"<Scr><Complete>01</Complete></Scr>", "<Scr><Complete> 1</Complete></Scr>",
                                  "<Scr><Complete>true</Complete></Scr>", "<Scr><Result><AP>1</AP></Result></Scr>"}) {
    answer(notComplete);
    EXPECT_TRUE(results.empty()) << notComplete;
  }
  answer("<Scr><Result><Complete>1</Complete><AP>1</AP></Result></Scr>");
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultSucceeded);
  EXPECT_EQ(engine.currentState(), KOVStateInit);
  EXPECT_FALSE(engine.hasSession());
}

TEST_F(Dispatch, BrokenXmlKeepsTheKeysReadBeforeTheFault) {
  start();
  answer("<Scr><DL1>ENTER PIN</DL1><DL2>now</DL2><B1 en=\"1\">X</B1><oops");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].state, KOVStateAwaitingPINEntry);
  EXPECT_EQ(updates[0].secondLine, "now");
  EXPECT_EQ(updates[0].button1, "X");
  answer("<Scr><Complete>1</Complete><Result><AP>1</AP></Result><broken");
  ASSERT_EQ(results.size(), 1u) << "a complete answer counts even when the XML breaks after it";
}

TEST_F(Dispatch, AnswersAfterTheEndAreDroppedUncounted) {
  start(true);
  answer(kCardScreen);
  auto firstPoll = last();
  engine.sendButtonRequest("B1", "CANCEL");
  auto press = last();
  net->answer(press, "<Scr/>");  // its completion supersedes firstPoll with a new poll
  EXPECT_TRUE(firstPoll->cancelled);
  answer(kCompleteApproved);
  ASSERT_EQ(results.size(), 1u);
  const std::size_t posts = net->posts.size();
  const std::size_t logged = log.size();
  net->fail(firstPoll);  // already completed as cancelled: nothing at all happens
  engine.processStatusResponse(std::nullopt, KOVError{NSURLErrorDomain, NSURLErrorTimedOut, "late"});
  engine.processStatusResponse(std::string(kCardScreen), std::nullopt);
  net->queue->drain();
  EXPECT_EQ(net->posts.size(), posts);
  EXPECT_EQ(log.size(), logged);
  EXPECT_EQ(results.size(), 1u);
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0);
}

TEST_F(Dispatch, TimeoutResultHandlerMayStartTheNextTransaction) {
  std::vector<KOVTransactionResultDetails> next;
  engine.startTransaction(details, KOVTransactionTypePurchase, false, false, nullptr, nullptr,
                          [&](KOVTransactionResultDetails r) {
                            results.push_back(r);
                            engine.startTransaction(sampleDetails(), KOVTransactionTypeVoid, false, false, nullptr,
                                                    nullptr, [&](KOVTransactionResultDetails n) { next.push_back(n); },
                                                    nullptr);
                          },
                          nullptr);
  for (int i = 0; i < 9; ++i) fail();
  ASSERT_EQ(results.size(), 1u);
  EXPECT_TRUE(engine.isTransactionInProgress());
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0);
  EXPECT_EQ(engine.currentTxnTypeStr(), "Void");
  answer(kCompleteApproved);
  EXPECT_EQ(next.size(), 1u);
  EXPECT_EQ(results.size(), 1u);
}

TEST_F(Dispatch, StatusCallbackThatEndsTheTransactionStopsTheLoop) {
  engine.startTransaction(details, KOVTransactionTypePurchase, false, false, nullptr,
                          [&](KOVState, const std::optional<std::string>&, const std::string&, const std::string&,
                              const std::optional<std::string>&, const std::optional<std::string>&) {
                            // A host that gives up on the first screen: the engine is told
                            // the answer to a request it never saw complete.
                            engine.processStatusResponse(std::string(kCompleteApproved), std::nullopt);
                          },
                          resultHandler(), nullptr);
  answer(kCardScreen);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(loopRequestsInFlight(), 0);
  EXPECT_EQ(net->posts.size(), 1u);
}

struct UrlLayerFailure {
  const char* name;
  int status;               // 0: a transport error instead of an answer
  std::string body;
  std::string loggedReason;
};

class UrlLayerFailures : public EngineTest, public ::testing::WithParamInterface<UrlLayerFailure> {};

TEST_P(UrlLayerFailures, NineInARowEndInTheTimeoutResultWithTheirReasonLogged) {
  const UrlLayerFailure& f = GetParam();
  start(true);
  log.clear();
  for (int i = 1; i <= 9; ++i) {
    if (f.status == 0) {
      net->complete(last(), std::nullopt,
                    KOVError{NSURLErrorDomain, NSURLErrorServerCertificateUntrusted,
                             "The server's certificate is not trusted."});
    } else {
      net->answer(last(), f.body, f.status);
    }
  }
  EXPECT_EQ(net->posts.size(), 9u);
  EXPECT_TRUE(updates.empty()) << "an error page is no screen";
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultTimeout);
  std::erase_if(log, [](const LogEntry& e) { return e.type == KOVTransactionLogEntryRequestContent; });
  ASSERT_EQ(log.size(), 19u);
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(log[2 * i].type, KOVTransactionLogEntryError);
    EXPECT_EQ(log[2 * i].text, f.loggedReason);
    EXPECT_EQ(log[2 * i + 1].text, "KOV Timeout. Starting attempt " + std::to_string(i + 1));
  }
  EXPECT_EQ(log[18].text, "KOV Timeout. Out of attempts. Triggering result.");
}

INSTANTIATE_TEST_SUITE_P(
    Dispatch, UrlLayerFailures,
    ::testing::Values(
        UrlLayerFailure{"WrongPath", 404, "", "HTTP 404"},
        UrlLayerFailure{"GatewayPage", 502, "<html><head><title>502 Bad Gateway</title></head></html>", "HTTP 502"},
        UrlLayerFailure{"ErrorWithForeignXml", 500, "<Error><Scr>x</Scr></Error>", "HTTP 500"},
        UrlLayerFailure{"UntrustedCertificate", 0, "",
                        "The server's certificate is not trusted. (NSURLErrorDomain -1202)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Dispatch, HttpErrorsWithAScreenAndSuccessesWithoutOneAreAnswers) {
  start();
  net->answer(last(), "<Scr><DL1>SYSTEM BUSY</DL1></Scr>", 503);
  net->answer(last(), "", 204);
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[0].firstLine, "SYSTEM BUSY");
  EXPECT_EQ(updates[1].state, KOVStateError);
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0);
}

TEST_F(Dispatch, SingleByteAnswersReachTheScreenAsUtf8) {
  start();
  answer("<?xml version=\"1.0\" encoding=\"windows-1252\"?><Scr><DL1>TOTAL \x80 12.50</DL1></Scr>");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].firstLine, "TOTAL \xE2\x82\xAC 12.50");
}

