// The engine over the real Qt transport against a loopback server that fails on purpose,
// each fault once on the first request and once in the middle of a transaction (after a
// first screen). URL-layer failures are counted and retried, and the ninth in a row ends the
// transaction with the time-out result; broken or hostile answers are answers: the keys read
// before the fault are used and the next poll follows. Always exactly one result.
#include <KOVModule/WqKOV.h>

#include <gtest/gtest.h>

#include <QTemporaryFile>

#include <functional>
#include <string>
#include <vector>

#include "EngineRun.h"
#include "QtTestSupport.h"
#include "TestHttpServer.h"

namespace kovrel {
namespace {

const QByteArray kFirstScreen = "<Scr><Complete>0</Complete><DL1>PRESENT CARD</DL1><DL2>AUD 12.50</DL2><Tmo>1</Tmo></Scr>";
const QByteArray kApproved =
    "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><AC>A1B2</AC></Result></Scr>";

using kovtest::ServerAction;

// The loopback test server, scripted by each request's number (1 for the first).
class ScriptedServer : public kovtest::TestHttpServer {
 public:
  explicit ScriptedServer(std::function<ServerAction(int number)> script) {
    setHandler([script = std::move(script)](const kovtest::HttpRequest& request) { return script(request.number); });
  }
  int requestCount() const { return static_cast<int>(requests().size()); }
};

// The head and part of the body, then a reset.
ServerAction answerCutByAReset() {
  ServerAction action = ServerAction::answer("<Scr><DL1>PROCESSING</DL1><DL2>PLEASE WAIT</DL2><Rcpt>" +
                                             QByteArray(200, 'x') + "</Rcpt></Scr>");
  action.cutAfterBytes = 200;
  action.resetAtCut = true;
  return action;
}

// A complete answer, after which the server refuses every new connection.
ServerAction answerThenRefuse(QByteArray body) {
  ServerAction action = ServerAction::answer(std::move(body));
  action.stopListening = true;
  return action;
}

enum class Where { FirstRequest, MidTransaction };

std::string whereName(const testing::TestParamInfo<Where>& info) {
  return info.param == Where::FirstRequest ? "OnTheFirstRequest" : "InTheMiddle";
}

// The request that meets the fault: 1, or 2 after a first screen.
int faultedRequest(Where where) { return where == Where::FirstRequest ? 1 : 2; }

std::vector<std::string> retryLines(const EngineRun& run) {
  std::vector<std::string> lines;
  for (const std::string& entry : run.logOf(KOVTransactionLogEntryInfo)) {
    if (entry.rfind("KOV Timeout.", 0) == 0) lines.push_back(entry);
  }
  return lines;
}

// The log of a transaction whose every request from the faulted one on failed.
std::vector<std::string> nineFailuresThenTimeout() {
  std::vector<std::string> lines;
  for (int attempt = 1; attempt <= 9; ++attempt) lines.push_back("KOV Timeout. Starting attempt " + std::to_string(attempt));
  lines.push_back("KOV Timeout. Out of attempts. Triggering result.");
  return lines;
}

void expectOneHonestEnd(EngineRun& run, KOVTransactionResult expected) {
  ASSERT_TRUE(run.waitForResult(45000));
  run.settleAfterResult();
  ASSERT_EQ(run.results().size(), 1u);
  EXPECT_EQ(run.results()[0].transactionResult, expected);
  EXPECT_FALSE(run.engine().isTransactionInProgress());
  EXPECT_EQ(findKey(run.everythingReported()), "");
  for (const std::string& entry : run.logOf(KOVTransactionLogEntryRequestContent)) {
    EXPECT_NE(entry.find("key=\"......\""), std::string::npos) << entry;
  }
}

// ---- URL-layer failures that last: counted, retried, and the ninth gives the time-out ----

// Runs a transaction whose requests from the faulted one on all meet the fault; gives what it
// showed. answeredByFault: the faulted request itself still gets its answer (1) or not (0).
std::vector<Screen> runLastingFailure(Where where, const ServerAction& fault, int expectedServerRequests,
                                      int answeredByFault = 0) {
  const int faulted = faultedRequest(where);
  ScriptedServer server([&](int number) { return number < faulted ? ServerAction::answer(kFirstScreen) : fault; });
  EXPECT_TRUE(server.start());
  EngineRun run(server.url().toStdString());
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultTimeout);
  EXPECT_EQ(retryLines(run), nineFailuresThenTimeout());
  // The faulted request and its eight retries, plus the answered ones before it.
  EXPECT_EQ(run.logOf(KOVTransactionLogEntryRequestContent).size(),
            static_cast<std::size_t>(faulted - 1 + answeredByFault + 9));
  EXPECT_EQ(server.requestCount(), expectedServerRequests);
  return run.screens();
}

class LastingUrlFailure : public testing::TestWithParam<Where> {};

TEST_P(LastingUrlFailure, ConnectionResetBeforeTheBody) {
  runLastingFailure(GetParam(), ServerAction::reset(), faultedRequest(GetParam()) - 1 + 9);
}

// A reset after part of the body is a lost connection, also when Qt finishes the reply
// without an error: the body is shorter than its announced length.
TEST_P(LastingUrlFailure, ConnectionResetInTheMiddleOfTheBody) {
  runLastingFailure(GetParam(), answerCutByAReset(), faultedRequest(GetParam()) - 1 + 9);
}

TEST_P(LastingUrlFailure, TenMegabyteAnswerIsCutAtTheCap) {
  QByteArray huge = "<Scr><DL1>";
  huge += QByteArray(10 * 1024 * 1024, 'x');
  huge += "</DL1></Scr>";
  const auto screens = runLastingFailure(GetParam(), ServerAction::answer(huge), faultedRequest(GetParam()) - 1 + 9);
  // Stopped at the cap, never parsed: no screen shows any of the huge line.
  for (const Screen& screen : screens) EXPECT_EQ(screen.firstLine, "PRESENT CARD");
}

INSTANTIATE_TEST_SUITE_P(Faults, LastingUrlFailure, testing::Values(Where::FirstRequest, Where::MidTransaction),
                         whereName);

// The first request has no time-out from the service yet and waits the default 30 s: its
// stall is StallOnTheFirstRequestIsRetried below.
TEST(LastingUrlFailureInTheMiddle, StallPastThePollTimeOut) {
  runLastingFailure(Where::MidTransaction, ServerAction::hold(), 1 + 9);
}

// The server answers the faulted request, then stops listening: the nine failures follow it.
TEST(LastingUrlFailureInTheMiddle, ConnectionRefused) {
  runLastingFailure(Where::MidTransaction, answerThenRefuse(kFirstScreen), faultedRequest(Where::MidTransaction), 1);
}

TEST(LastingUrlFailureOnTheFirstRequest, ConnectionRefused) {
  EngineRun run(kovtest::TestHttpServer::refusedUrl().toStdString());
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultTimeout);
  EXPECT_EQ(retryLines(run), nineFailuresThenTimeout());
  EXPECT_EQ(run.logOf(KOVTransactionLogEntryRequestContent).size(), 9u);
}

TEST(PassingUrlFailure, StallOnTheFirstRequestIsRetriedAndTheTransactionGoesOn) {
  // The first request has no time-out from the service yet: it waits the default 30 s.
  ScriptedServer server([](int number) {
    return number == 1 ? ServerAction::hold() : ServerAction::answer(kApproved);
  });
  ASSERT_TRUE(server.start());
  EngineRun run(server.url().toStdString());
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultSucceeded);
  EXPECT_EQ(retryLines(run), std::vector<std::string>{"KOV Timeout. Starting attempt 1"});
  ASSERT_EQ(server.requestCount(), 2);
  EXPECT_TRUE(server.requests()[0].body.contains("<Amount>12.50</Amount>"));
  EXPECT_TRUE(server.requests()[1].body.contains("<TxnType>Status</TxnType>"));
}

TEST(PassingUrlFailure, EightFailuresInARowAreRetriedAndAnAnswerResetsTheCount) {
  // Failures 1..8 are retried; the answer after them starts the count afresh, so eight more
  // failures still do not end the transaction.
  ScriptedServer server([](int number) {
    if (number == 1) return ServerAction::answer(kFirstScreen);
    if ((number >= 2 && number <= 9) || (number >= 11 && number <= 18)) return ServerAction::reset();
    if (number == 10) return ServerAction::answer(kFirstScreen);
    return ServerAction::answer(kApproved);
  });
  ASSERT_TRUE(server.start());
  EngineRun run(server.url().toStdString());
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultSucceeded);
  EXPECT_EQ(server.requestCount(), 19);
  EXPECT_EQ(retryLines(run).size(), 16u);
  EXPECT_EQ(retryLines(run).back(), "KOV Timeout. Starting attempt 8");
}

// ---- Broken and hostile answers: answers, never failures; the next poll follows ----

struct HostileAnswer {
  const char* name;
  QByteArray body;
  int status = 200;
};

QByteArray deepNesting() {
  QByteArray body = "<Scr><DL1>HELLO</DL1>";
  for (int i = 0; i < 100000; ++i) body += "<a>";
  for (int i = 0; i < 100000; ++i) body += "</a>";
  return body + "</Scr>";
}

QByteArray billionLaughs() {
  QByteArray body = "<?xml version=\"1.0\"?>\n<!DOCTYPE Scr [\n<!ENTITY lol \"lol\">\n";
  body += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n";
  for (int i = 2; i <= 9; ++i) {
    body += "<!ENTITY lol" + QByteArray::number(i) + " \"";
    for (int k = 0; k < 10; ++k) body += "&lol" + QByteArray::number(i - 1) + ";";
    body += "\">\n";
  }
  return body + "]>\n<Scr><DL1>&lol9;</DL1><Complete>1</Complete><Result><AP>1</AP></Result></Scr>";
}

std::vector<HostileAnswer> hostileAnswers() {
  return {
      {"TruncatedXml", "<Scr><Complete>0</Complete><DL1>PROCESSING</DL1><DL2>PLEASE WA"},
      {"InvalidUtf8", "<Scr><DL1>PROC\xff\xfe" "ESSING</DL1><Complete>1</Complete><Result><AP>1</AP></Result></Scr>"},
      {"NulBytes", QByteArray("<Scr><DL1>AB\0CD</DL1><Complete>1</Complete><Result><AP>1</AP></Result></Scr>", 73)},
      {"Nesting100000Deep", deepNesting()},
      {"BillionLaughs", billionLaughs()},
      {"Doctype", "<!DOCTYPE Scr><Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC></Result></Scr>"},
      {"AnotherRootElement", "<Foo><Complete>1</Complete><Result><AP>1</AP><RC>00</RC></Result></Foo>"},
      {"EmptyBody", ""},
  };
}

TEST(PassingUrlFailure, HttpErrorPageWithoutAScreenIsRetriedLikeALostConnection) {
  const std::vector<std::pair<QByteArray, int>> pages{
      {"<html><head><title>500</title></head><body><h1>Internal Server Error</h1></body></html>", 500},
      {"<html><body><h1>Not Found</h1><p>/wqmi3/pos.aspx</p></body></html>", 404}};
  for (const auto& [page, status] : pages) {
    for (Where where : {Where::FirstRequest, Where::MidTransaction}) {
      SCOPED_TRACE(status);
      const int faulted = faultedRequest(where);
      ScriptedServer server([&, faulted](int number) {
        if (number < faulted) return ServerAction::answer(kFirstScreen);
        if (number == faulted) return ServerAction::answer(page, status);
        return ServerAction::answer(kApproved);
      });
      ASSERT_TRUE(server.start());
      EngineRun run(server.url().toStdString());
      run.start();
      expectOneHonestEnd(run, KOVTransactionResultSucceeded);
      EXPECT_EQ(retryLines(run), std::vector<std::string>{"KOV Timeout. Starting attempt 1"});
      EXPECT_EQ(server.requestCount(), faulted + 1);
    }
  }
}

class HostileAnswerTest : public testing::TestWithParam<std::tuple<HostileAnswer, Where>> {};

TEST_P(HostileAnswerTest, IsAnAnswerAndTheNextPollEndsTheTransaction) {
  const auto& [answer, where] = GetParam();
  const int faulted = faultedRequest(where);
  ScriptedServer server([&, faulted](int number) {
    if (number < faulted) return ServerAction::answer(kFirstScreen);
    if (number == faulted) return ServerAction::answer(answer.body, answer.status);
    return ServerAction::answer(kApproved);
  });
  ASSERT_TRUE(server.start());
  EngineRun run(server.url().toStdString());
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultSucceeded);
  // Not a failure: nothing counted, and exactly one poll after it, which got the result.
  EXPECT_TRUE(retryLines(run).empty());
  EXPECT_EQ(server.requestCount(), faulted + 1);
  EXPECT_EQ(run.results()[0].authCode, "A1B2");
  // The broken answer was logged as valid UTF-8 text.
  const auto answers = run.logOf(KOVTransactionLogEntryResponseContent);
  ASSERT_EQ(answers.size(), static_cast<std::size_t>(faulted + 1));
  const std::string& logged = answers[faulted - 1];
  EXPECT_EQ(logged.find('\xff'), std::string::npos);
  // Nothing of an entity was ever expanded.
  EXPECT_EQ(run.everythingReported().find("lollol"), std::string::npos);

  const std::string name = answer.name;
  const Screen& last = run.screens().back();
  if (name == "TruncatedXml") {
    EXPECT_EQ(last.firstLine, "PROCESSING");  // the keys before the fault are used
    EXPECT_EQ(last.secondLine, "PLEASE WA");
  } else if (name == "InvalidUtf8") {
    EXPECT_EQ(last.firstLine, "PROC");
    EXPECT_NE(logged.find("PROC\xef\xbf\xbd\xef\xbf\xbd" "ESSING"), std::string::npos);
  } else if (name == "NulBytes") {
    EXPECT_EQ(last.firstLine, "AB");
  } else if (name == "Nesting100000Deep") {
    EXPECT_EQ(last.firstLine, "HELLO");  // keys above the cut are kept
  }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HostileAnswerTest,
    testing::Combine(testing::ValuesIn(hostileAnswers()), testing::Values(Where::FirstRequest, Where::MidTransaction)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == Where::FirstRequest ? "OnTheFirstRequest" : "InTheMiddle");
    });

TEST(HostileAnswer, ExternalEntityNamingALocalFileIsNeverRead) {
  QTemporaryFile secret;
  ASSERT_TRUE(secret.open());
  secret.write("TOP-SECRET-FILE-CONTENT");
  secret.flush();
  const QByteArray path = secret.fileName().toUtf8();
  for (Where where : {Where::FirstRequest, Where::MidTransaction}) {
    SCOPED_TRACE(where == Where::FirstRequest ? "first request" : "in the middle");
    const QByteArray body = "<?xml version=\"1.0\"?><!DOCTYPE Scr [<!ENTITY x SYSTEM \"file://" + path +
                            "\">]><Scr><DL1>&x;</DL1><DL2>B</DL2><Complete>1</Complete><Result><AP>1</AP><RC>&x;</RC>"
                            "</Result></Scr>";
    const int faulted = faultedRequest(where);
    ScriptedServer server([&](int number) {
      if (number < faulted) return ServerAction::answer(kFirstScreen);
      return number == faulted ? ServerAction::answer(body) : ServerAction::answer(kApproved);
    });
    ASSERT_TRUE(server.start());
    EngineRun run(server.url().toStdString());
    run.start();
    expectOneHonestEnd(run, KOVTransactionResultSucceeded);
    EXPECT_EQ(server.requestCount(), faulted + 1);  // the entity's answer did not end it
    EXPECT_EQ(run.everythingReported().find("TOP-SECRET"), std::string::npos);
    for (const auto& [key, value] : *run.results()[0].response) {
      EXPECT_EQ(value.find("TOP-SECRET"), std::string::npos) << key;
    }
  }
}

TEST(HostileAnswer, TruncatedCompleteAnswerWithoutApprovalIsNotASuccess) {
  // The end is read before the cut, the approval is not there: the result says so.
  ScriptedServer server([](int) {
    return ServerAction::answer("<Scr><Complete>1</Complete><Result><RC>51</RC><AP>");
  });
  ASSERT_TRUE(server.start());
  EngineRun run(server.url().toStdString());
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultFailed);
  EXPECT_EQ(run.results()[0].reCo, "51");
  EXPECT_EQ(server.requestCount(), 1);
}

// ---- The service's poll time-out ----

struct TmoCase {
  const char* name;
  const char* tmo;
  int expectedSeconds;
};

class ServiceTimeOut : public testing::TestWithParam<std::tuple<TmoCase, Where>> {};

TEST_P(ServiceTimeOut, IsBoundedBeforeTheNextPoll) {
  const auto& [tmo, where] = GetParam();
  const int faulted = faultedRequest(where);
  WqKOV* engine = nullptr;
  int timeoutAtNextPoll = -1;
  ScriptedServer server([&](int number) {
    if (number < faulted) return ServerAction::answer(kFirstScreen);
    if (number == faulted) {
      return ServerAction::answer(QByteArray("<Scr><Complete>0</Complete><DL1>WAIT</DL1><Tmo>") + tmo.tmo + "</Tmo></Scr>");
    }
    if (number == faulted + 1 && engine) timeoutAtNextPoll = engine->currentTimeoutInSeconds();
    return ServerAction::answer(kApproved);
  });
  ASSERT_TRUE(server.start());
  EngineRun run(server.url().toStdString());
  engine = &run.engine();
  run.start();
  expectOneHonestEnd(run, KOVTransactionResultSucceeded);
  EXPECT_EQ(timeoutAtNextPoll, tmo.expectedSeconds);
  EXPECT_EQ(server.requestCount(), faulted + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ServiceTimeOut,
    testing::Combine(testing::Values(TmoCase{"Zero", "0", 30}, TmoCase{"Negative", "-5", 30},
                                     TmoCase{"Huge", "99999999999", 3600}, TmoCase{"Text", "soon", 30}),
                     testing::Values(Where::FirstRequest, Where::MidTransaction)),
    [](const auto& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == Where::FirstRequest ? "OnTheFirstRequest" : "InTheMiddle");
    });

}  // namespace
}  // namespace kovrel
