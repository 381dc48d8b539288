// One transaction as a script of network events, checked against everything the engine did
// in answer: requests, cancels, screens, signature calls, results and debug entries, in order.
#include <algorithm>
#include <variant>

#include "EngineFixture.h"

using namespace kovtest;

namespace {

// A script's steps: what the host does, what the network does and the clock moving on.
struct Start {}; struct Send {}; struct Cancel {}; struct FailAll {};
struct Recover { KOVTransactionRecoveryDetails details; };
struct Amount { std::string text; };
struct Ref { std::optional<std::string> txnRef; };
struct Press { std::string id, value; };
struct SkipSignature { std::string body; };
struct Late { std::string body; };
struct Settle { bool forget; std::string txnRef; };
struct JournalFails { std::optional<std::string> why; bool reads = false; };
struct Wait { int ms; };
struct Answer {  // completes the oldest poll
  std::optional<std::string> body;
  std::optional<KOVError> error = std::nullopt;
  int status = 200;
  std::optional<std::chrono::seconds> retryAfter = std::nullopt;
};
struct Fail { int code; int times = 1; bool sent = true; };  // the oldest poll, so many times
struct PressDone { std::optional<std::string> body; };      // the oldest press answered, or failed
struct OwnAnswered { std::string body; };
using Step = std::variant<Start, Recover, Amount, Ref, Press, Send, SkipSignature, Late, Cancel, Settle, JournalFails,
                          Wait, Answer, Fail, FailAll, PressDone, OwnAnswered>;

// The host: a start, a recovery, the record's amount and reference changed, a press, a document of
// its own sent (send) and answered (ownAnswered), a signature step answered (skipSignature), an
// answer of its own handed over late, a cancel, an acknowledgement, a forget; its journal's saves
// (and reads) failing with a text, or working again.
struct Who { std::optional<std::string> station = std::nullopt, user = std::nullopt; };
Step start() { return Start{}; }
Step recover(std::optional<std::string> txnRef = std::nullopt, Who who = {}) {
  return Recover{{.userName = who.user, .key = std::nullopt, .stationId = who.station, .txnRef = txnRef}};
}
Step amount(std::string text) { return Amount{text}; }
Step ref(std::string txnRef) { return Ref{txnRef}; }
Step noRef() { return Ref{std::nullopt}; }
Step press(std::string id, std::string value) { return Press{id, value}; }
Step send() { return Send{}; }
Step ownAnswered(std::string body) { return OwnAnswered{body}; }
Step skipSignature(std::string body) { return SkipSignature{body}; }
Step late(std::string body) { return Late{body}; }
Step cancel() { return Cancel{}; }
Step ack(std::string txnRef) { return Settle{false, txnRef}; }
Step forget(std::string txnRef) { return Settle{true, txnRef}; }
Step journalFails(std::string why) { return JournalFails{why}; }
Step journalReadsFail(std::string why) { return JournalFails{why, true}; }
Step journalWorks() { return JournalFails{}; }
// The network: the oldest poll answered (with its HTTP status), ended by an error of another
// domain (reset) or with neither data nor error (nothing), a 503 with a Retry-After (busy), failed
// (refused: before a byte left); each poll failed as it comes, the clock moved on to it, until the
// result (failAll); the oldest press answered or failed. And the clock moving on.
Step answer(std::string body) { return Answer{body}; }
Step answer(int status, std::string body) { return Answer{.body = body, .status = status}; }
Step reset() { return Answer{std::nullopt, KOVError{"NSPOSIXErrorDomain", 54, "connection reset"}}; }
Step nothing() { return Answer{std::nullopt}; }
Step busy(int seconds) { return Answer{std::string(), std::nullopt, 503, std::chrono::seconds(seconds)}; }
Step timedOut(int times = 1) { return Fail{NSURLErrorTimedOut, times}; }
Step refused() { return Fail{NSURLErrorCannotConnectToHost, 1, false}; }
Step failAll() { return FailAll{}; }
Step pressAnswered(std::string body) { return PressDone{body}; }
Step pressFailed() { return PressDone{}; }
Step wait(int ms) { return Wait{ms}; }

/// The host's settings for a script. The pacing ones (spaced, defaultPacing, deadline) stamp
/// the posts with the fake clock's time.
struct Flags {
  bool skip = false;                 // the signature step answered by the engine
  bool uat = false, refund = false;  // the test endpoint; a refund instead of a purchase
  bool mute = false;                 // no status handler
  bool chain = false;                // the first result starts a refund
  bool end = false;                  // the first screen makes the host hand the engine a complete answer
  bool spaced = false, unqueued = false;  // retries spaced by 2 s; no main queue
  bool defaultPacing = false;        // retries growing, a floor of 0.2 s between polls
  bool deadline = false;             // a deadline of 60 s
  bool journal = false, ack = false;  // the fixture's journal; acknowledged delivery
  bool who = false;                  // posts name their user and station
  bool debug = false;
  bool outcome = false;              // result lines end with the outcome: " | REASON | sent|unsent"
};

struct Script {
  const char* name;
  std::vector<Step> steps;  // after a start, unless they hold one
  // Expected transcript; "LINES *N" stands for N copies of LINES.
  std::vector<std::string> expected;
  Flags flags = {};
};

void PrintTo(const Script& s, std::ostream* out) { *out << s.name; }

template <class... F> struct Overloaded : F... { using F::operator()...; };

class Run : public EngineTest, public ::testing::WithParamInterface<Script> {
 protected:
  void settle(const Flags& f) {  // the host's settings before a start or a recovery
    if (f.journal) engine.setJournal(journal);
    engine.setAcknowledgedDelivery(f.ack);
    if (f.spaced) engine.setRetrySpacing(2);
    if (f.defaultPacing) engine.setRetrySpacing(-1), engine.setPollFloor(0.2);
    if (f.deadline) engine.setTransactionDeadline(60);
    if (f.unqueued) engine.setMainQueue(nullptr);
    stampTimes = f.spaced || f.defaultPacing || f.deadline;
    showWho = f.who;
  }
  std::shared_ptr<PostedRequest> outstanding(bool button = false) {  // the oldest poll, or press
    auto found = oldest(button);
    EXPECT_TRUE(found) << (button ? "no press outstanding" : "no poll outstanding");
    return found;
  }
  void play(const Flags& f, const Step& step) {
    std::visit(Overloaded{
        [&](const Start&) {
          settle(f);
          StatusChangeHandler onScreen = f.mute ? nullptr : statusHandler();
          if (f.end) {
            onScreen = [this, shown = onScreen](auto state, auto& receipt, auto& l1, auto& l2, auto& b1, auto& b2) {
              shown(state, receipt, l1, l2, b1, b2);
              engine.processStatusResponse(std::string(kCompleteApproved), std::nullopt);
            };
          }
          auto onResult = [this, chain = f.chain, recorded = resultHandler(f.outcome)](auto r) {
            recorded(r);
            if (chain && results.size() == 1) {
              engine.startTransaction(sampleDetails(), KOVTransactionTypeRefund, false, false, nullptr, nullptr,
                                      resultHandler(), nullptr);
            }
          };
          engine.startTransaction(details, f.refund ? KOVTransactionTypeRefund : KOVTransactionTypePurchase, f.uat,
                                  f.debug, logHandler(), onScreen, onResult, signatureHandler());
        },
        [&](const Recover& r) {
          settle(f);
          engine.recoverTransaction(r.details, f.uat, f.debug, logHandler(), statusHandler(), resultHandler(f.outcome),
                                    nullptr);
        },
        [&](const Amount& a) { details->amount = KOVDecimal::parse(a.text); },
        [&](const Ref& r) { details->txnRef = r.txnRef; },
        [&](const Press& p) { engine.sendButtonRequest(p.id, p.value); },
        [&](const Send&) {
          engine.sendRequest("<Scr><TxnType>Own</TxnType></Scr>", [this](auto& data, auto&, auto& error) {
            transcript.push_back("own " + (error ? std::to_string(error->code) : *data));
          }, 5);
        },
        [&](const SkipSignature& s) {
          NSStringDictionary answer;
          KOVXmlUtils::ParseXML(s.body, answer);
          transcript.push_back(engine.skipSignatureVerification(answer) ? "skipped" : "not skipped");
        },
        [&](const Late& l) {
          engine.processStatusResponse(l.body, std::nullopt);
          engine.processStatusResponse(std::nullopt, KOVError{NSURLErrorDomain, NSURLErrorTimedOut, "late"});
        },
        [&](const Cancel&) { transcript.push_back(engine.cancelTransaction() ? "cancel true" : "cancel false"); },
        [&](const Settle& a) {
          std::string why;
          const bool done = a.forget ? engine.forget(a.txnRef, &why) : engine.acknowledge(a.txnRef, &why);
          transcript.push_back(std::string(a.forget ? "forget" : "ack") + (done ? " true" : " false " + why));
        },
        [&](const JournalFails& j) { journal->failure = j.why, journal->readsFail = j.reads; },
        [&](const Wait& w) { net->queue->advance(std::chrono::milliseconds(w.ms)); },
        [&](const Answer& a) {
          if (const auto p = outstanding()) net->complete(p, a.body, a.error, a.status, a.retryAfter);
        },
        [&](const Fail& x) {
          for (int i = 0; i < x.times && outstanding(); ++i) net->fail(oldest(false), x.code, x.sent);
        },
        [&](const FailAll&) {
          for (const std::size_t before = results.size(); results.size() == before;) {
            if (const auto p = oldest(false)) {
              net->fail(p);
            } else if (!net->queue->timers.empty()) {
              net->queue->advance(std::chrono::ceil<std::chrono::milliseconds>(net->queue->timers.begin()->first -
                                                                                  net->queue->clock));
            } else {
              FAIL() << "nothing left to fail";
            }
          }
        },
        [&](const PressDone& d) {
          if (const auto p = outstanding(true)) d.body ? net->answer(p, *d.body) : net->fail(p);
        },
        [&](const OwnAnswered& o) {
          const auto all = net->outstanding();
          const auto own =
              std::find_if(all.begin(), all.end(), [](auto& p) { return tagText(p->body, "TxnType") == "Own"; });
          ASSERT_NE(own, all.end()) << "no document of the host's own outstanding";
          net->answer(*own, o.body);
        }},
        step);
    net->queue->drain();
  }
};

TEST_P(Run, DoesExactlyWhatTheAnswersCallFor) {
  const Script& s = GetParam();
  details->skipSignatureVerification = s.flags.skip;
  if (std::ranges::none_of(s.steps, [](const Step& step) { return std::holds_alternative<Start>(step); })) {
    play(s.flags, Start{});
  }
  for (const auto& step : s.steps) play(s.flags, step);
  std::string want, got;
  for (const auto& line : s.expected) {
    const auto star = line.rfind(" *");
    for (int n = star == std::string::npos ? 1 : std::stoi(line.substr(star + 2)); n > 0; --n) {
      want += line.substr(0, star) + "\n";
    }
  }
  for (const auto& line : transcript) got += line + "\n";
  EXPECT_EQ(got, want);
}

const std::string kSigYesNo =
    "<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">NO</B2><Rcpt>ABCDEFGHIJ</Rcpt>"
    "<RcptW>4</RcptW></Scr>";
const Step kCard = answer(kCardScreen);
const Step kApproved = answer(kCompleteApproved);
const std::string kCardShown = "screen 1 INSERT CARD|$12.50 [CANCEL|-]";

// The debug transcript of a failed poll and the poll that follows it.
std::string retried(const std::string& reason, int attempt) {
  return "log E " + reason + "\nlog I KOV Timeout. Starting attempt " + std::to_string(attempt) +
         "\nlog >\n> Status 30";
}


INSTANTIATE_TEST_SUITE_P(
    Scripts, Run,
    ::testing::Values(
        Script{"RefundOnTheTestEndpointForEveryRequest", {kCard, timedOut(), kApproved},
               {"> Refund 30 uat", kCardShown, "> Status 45 uat", "> Status 45 uat", "result 0"},
               {.uat = true, .refund = true}},
        Script{"OnlyAnAnswerWithAScreenResetsTheFailureCount",
               {timedOut(8), answer("<Scr><DL1>?</DL1><oops"), timedOut(7), answer(204, ""), answer(302, "")},
               {"> Purchase 30", "> Status 30 *8", "screen 9 ?| [-|-]", "> Status 30 *9", "result 10"}},
        Script{"AnswersWithAScreenWhateverTheirStatus",
               {answer(500, kCardScreen), answer(503, "<Scr action=\"x\"/>"),
                answer(400, "<Scr><Complete>1</Complete><DL1>SIGNATURE</DL1><B1 en=\"1\">YES</B1></Scr>")},
               {"> Purchase 30", kCardShown, "> Status 45", "screen 9 | [-|-]", "> Status 45", "result 1"}},
        Script{"AnswersWithoutAScreenAreFailuresWhateverTheirStatus",
               {reset(), nothing(), answer(302, "<html>moved</html>"), answer("<html>maintenance</html>"),
                answer(500, "<Error><Scr>x</Scr></Error>"), kCard},
               {"log >", "> Purchase 30", retried("connection reset (NSPOSIXErrorDomain 54)", 1),
                retried("HTTP 200 without a screen", 2), retried("HTTP 302 without a screen", 3),
                retried("HTTP 200 without a screen", 4), retried("HTTP 500 without a screen", 5), "log <",
                kCardShown, "log >", "> Status 45"},
               {.debug = true}},
        Script{"TmoSetsEachPollsTimeoutWithinBounds",
               {kCard, answer("<Scr/>"), timedOut(), answer("<Scr><Tmo>-5</Tmo></Scr>"),
                answer("<Scr><Tmo>5</Tmo></Scr>"), answer("<Scr><Tmo>99999999999</Tmo></Scr>")},
               {"> Purchase 30", "> Status 45 *3", "> Status 30", "> Status 5", "> Status 3600"},
               {.mute = true}},
        Script{"OnlyTheExactTextOneCompletesInEitherPlace",
               {answer("<Scr><Complete>01</Complete></Scr>"), answer("<Scr><Complete> 1</Complete></Scr>"),
                answer("<Scr><Complete>true</Complete></Scr>"), answer("<Scr><Result><AP>1</AP></Result></Scr>"),
                answer("<Scr><Result><Complete>1</Complete><AP>1</AP></Result></Scr>")},
               {"> Purchase 30", "> Status 30 *4", "result 0"}, {.mute = true}},
        Script{"ScreenCarriesLinesButtonsAndReceipt",
               {answer("<Scr><B1 en=\"yes\">A</B1><B2 en=\"2\"/><Rcpt>ABCDEFGHIJ</Rcpt></Scr>"),
                answer("<Scr><Rcpt>ABC</Rcpt><RcptW>wide</RcptW></Scr>")},
               {"> Purchase 30", "screen 9 | [-|] rcpt=ABCDEFGHIJ/", "> Status 30", "screen 9 | [-|-] rcpt=ABC/",
                "> Status 30"}},
        Script{"SignatureReceiptOnEachEntryIntoTheStep",
               {answer("<Scr><DL1>SIGNATURE OK?</DL1></Scr>"), answer(kSigYesNo),
                answer("<Scr><DL1>PROCESSING</DL1></Scr>"), answer(kSigYesNo)},
               {"> Purchase 30", "screen 5 SIGNATURE OK?| [-|-]", "sig -", "> Status 30",
                "screen 5 SIGNATURE OK?| [YES|NO] rcpt=ABCD/EFGH/IJ/", "> Status 30", "screen 4 PROCESSING| [-|-]",
                "> Status 30", "screen 5 SIGNATURE OK?| [YES|NO] rcpt=ABCD/EFGH/IJ/", "sig ABCD/EFGH/IJ/",
                "> Status 30"}},
        Script{"WithoutAStatusHandlerNoSignatureCall", {answer(kSigYesNo)}, {"> Purchase 30", "> Status 30"},
               {.mute = true}},
        Script{"PressSendsItsRequestAndItsCompletionOnePollThatSupersedesTheLoop",
               {kCard, press("B1", "CANCEL"), pressFailed(), press("B2", "<&>"), press("B1", "A"), press("B2", "\x02"),
                pressAnswered("<Scr/>"), pressAnswered("<Scr/>"), kApproved},
               {"> Purchase 30", kCardShown, "> Status 45", "> UI B1=CANCEL 10", "x Status", "> Status 45",
                "> UI B2=&lt;&amp;&gt; 10", "> UI B1=A 10", "x Status", "> Status 45", "x Status", "> Status 45",
                "result 0"}},
        Script{"TheEndCancelsAnOutstandingPressAndLaterCallsDoNothing",
               {press("B1", "CANCEL"), kApproved, press("B2", "OK"), late(kCardScreen)},
               {"> Purchase 30", "> UI B1=CANCEL 10", "x UI", "result 0"}},
        Script{"SignatureAnsweredWithTheLastYesButtonOnly",
               {answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">No</B1><B2 en=\"1\">Yes</B2><Tmo>12</Tmo></Scr>"),
                pressAnswered("<Scr/>"),
                answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">yes</B2></Scr>"), pressFailed(),
                answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"2\">YES</B1></Scr>"),
                answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\"> YES</B1><B2>YES</B2></Scr>"),
                answer("<Scr><DL1>INSERT CARD</DL1><B1 en=\"1\">YES</B1></Scr>")},
               {"> Purchase 30", "> UI B2=Yes 10", "> Status 30", "> UI B2=yes 10", "> Status 30",
                "screen 5 SIGNATURE OK?| [YES|-]", "sig -", "> Status 30", "screen 5 SIGNATURE OK?| [ YES|-]",
                "> Status 30",
                "screen 1 INSERT CARD| [YES|-]", "> Status 30"},
               {.skip = true}},
        // Called by the host, the auto-answer presses an enabled YES of a signature step of a
        // running transaction, and says whether it did.
        Script{"SkipSignatureVerificationSaysWhetherItPressed",
               {skipSignature(kSigYesNo), start(), skipSignature(kSigYesNo),
                skipSignature("<Scr><DL1>SIGNATURE</DL1><B1 en=\"1\">NO</B1></Scr>"), kApproved,
                skipSignature(kSigYesNo)},
               {"not skipped", "> Purchase 30", "> UI B1=YES 10", "skipped", "not skipped", "x UI", "result 0",
                "not skipped"}},
        // A host's own document goes through the running transaction's session and is
        // answered once; before any transaction it fails, later, as unsupported.
        Script{"SendRequestPostsThroughTheTransactionsSession",
               {send(), start(), send(), ownAnswered("<x/>"), kApproved, send(), ownAnswered("<y/>")},
               {"own -1002", "> Purchase 30", "> Own 5", "own <x/>", "result 0", "> Own 5", "own <y/>"}},
        Script{"AnsweredSignatureWinsOverACompleteFlag",
               {answer("<Scr><Complete>1</Complete><DL1>SIGNATURE</DL1><B1 en=\"1\">YES</B1></Scr>")},
               {"> Purchase 30", "> UI B1=YES 10"}, {.skip = true}},
        Script{"SecondStartOrRecoverWhileRunningIsRefusedWithoutTouchingTheFirst",
               {start(), start(), recover(), kApproved, recover()},
               {"> Purchase 30", "result 5", "result 5", "result 0", "> Status 30"}},
        // The record's own check (its table is RecordCheck): a refusal sends nothing, and says so.
        Script{"RecordsThatCannotBeSentAsMeantAreNeverSent",
               {amount("-1.00"), start(), recover("T\x01")},
               {"result 1 The amount cannot be sent: it is negative (a refund is a transaction type of its own). | "
                "The amount cannot be sent: it is negative (a refund is a transaction type of its own). | unsent",
                "result 1 The txnRef cannot be sent: it holds a character XML cannot carry (a control character, "
                "U+FFFE or U+FFFF). | The txnRef cannot be sent: it holds a character XML cannot carry (a control "
                "character, U+FFFE or U+FFFF). | sent"},
               {.outcome = true}},
        Script{"ResultHandlerMayStartTheNextTransaction",
               {kApproved, answer("<Scr><Complete>1</Complete><Result><RC>p8</RC></Result></Scr>")},
               {"> Purchase 30", "result 0", "> Refund 30", "result 3"}, {.chain = true}},
        Script{"AlsoAfterTheTimeOutWithTheCountStartedAfresh", {timedOut(9), timedOut(8), kApproved},
               {"> Purchase 30", "> Status 30 *8", "result 10", "> Refund 30", "> Status 30 *8", "result 0"},
               {.chain = true}},
        Script{"StatusCallbackThatEndsTheTransactionStopsTheLoop", {kCard}, {"> Purchase 30", kCardShown, "result 0"},
               {.end = true}},
        // Spaced retries count from the failed request's sending: a failure that took the
        // spacing already is retried at once, an answer never waits, and a press's poll
        // makes the waiting retry unwanted.
        Script{"SpacedRetriesWaitFromTheFailedRequestsSending",
               {timedOut(), wait(1999), wait(1), wait(500), timedOut(), wait(1500), wait(3000), timedOut(), kCard,
                timedOut(), press("B1", "CANCEL"), pressAnswered("<Scr/>"), wait(2000)},
               {"> Purchase 30 @0", "> Status 30 @2000", "> Status 30 @4000", "> Status 30 @7000",
                kCardShown, "> Status 45 @7000", "> UI B1=CANCEL 10 @7000", "> Status 45 @7000"},
               {.spaced = true}},
        Script{"WithoutAMainQueueSpacedRetriesGoAtOnce", {timedOut()}, {"> Purchase 30 @0", "> Status 30 @0"},
               {.spaced = true, .unqueued = true}},
        // By default retries wait a delay that grows from 0.25 s to 4 s, each spread by the
        // transaction's own jitter: nine refused connections span more than 10 s.
        Script{"DefaultRetriesGrowSoThatNineFailuresSpanTenSeconds", {failAll()},
               {"> Purchase 30 @0", "> Status 30 @202", "> Status 30 @724", "> Status 30 @1691", "> Status 30 @3295",
                "> Status 30 @7790", "> Status 30 @11624", "> Status 30 @15145", "> Status 30 @19606", "result 10"},
               {.defaultPacing = true}},
        // A poll goes no sooner than 0.2 s after the one before, unless the service held it
        // that long; the poll after a press goes at once. A busy service's Retry-After is
        // waited for, at most 30 s.
        Script{"PollsKeepTheirFloorAndABusyServicesWait",
               {kCard, wait(199), wait(1), wait(500), kCard, press("B1", "CANCEL"), pressAnswered("<Scr/>"), busy(5),
                wait(5000), busy(90), wait(29999), wait(1)},
               {"> Purchase 30 @0", kCardShown, "> Status 45 @200", kCardShown, "> Status 45 @700",
                "> UI B1=CANCEL 10 @700", "x Status", "> Status 45 @700", "> Status 45 @5700", "> Status 45 @35700"},
               {.defaultPacing = true}},
        // Without a final answer within the deadline the terminal is asked to cancel; the poll
        // after that without one ends it with the time-out result, saying why.
        Script{"DeadlineAsksToCancelAndEndsAfterOneMorePoll",
               {kCard, wait(60000), pressAnswered("<Scr/>"), kCard},
               {"> Purchase 30 @0", kCardShown, "> Status 45 @0", "> UI B1=CANCEL 10 @60000", "x Status",
                "> Status 45 @60000",
                "result 10 | no final answer within 60 s (the terminal was asked to cancel) | sent"},
               {.deadline = true, .outcome = true}},
        Script{"DeadlineEndsWithTheFinalAnswerIfItComes",
               {kCard, wait(60000), pressAnswered("<Scr/>"),
                answer("<Scr><Complete>1</Complete><Result><RC>TC</RC></Result></Scr>")},
               {"> Purchase 30 @0", kCardShown, "> Status 45 @0", "> UI B1=CANCEL 10 @60000", "x Status",
                "> Status 45 @60000", "result 1 | - | sent"},
               {.deadline = true, .outcome = true}},
        // A journal that cannot be read or written refuses the start, nothing sent; once the
        // request has left, a failed write is logged and the result still handed over.
        Script{"JournalFailuresRefuseTheStartButNeverHideAResult",
               {journalFails("disk I/O error"), start(), journalReadsFail("disk I/O error"), recover("T-1"),
                journalWorks(), noRef(), start(), ref("T-1"), start(), journalFails("disk I/O error"), kApproved},
               {"result 1 The journal cannot be written: disk I/O error",
                "result 10 The journal cannot be read: disk I/O error",
                "result 1 A journalled transaction needs a txnRef.",
                "journal sent T-1 Purchase 12.50", "log >", "> Purchase 30", "log <",
                "log E KOV journal: the transaction T-1 could not be marked answered: disk I/O error", "result 0",
                "log E KOV journal: the transaction T-1 could not be marked delivered: disk I/O error"},
               {.journal = true, .debug = true}},
        // The outcome of a time-out is unknown: the entry stays unfinished. A recovery settles
        // it only with an answer about the payment: the service's refusal of the status request
        // (a wrong key) is handed over with its reason and the entry stays pending, for the
        // recovery with the right settings. A reference the journal does not hold starts an
        // entry of its own.
        Script{"RecoveryTheServiceRefusesLeavesThePaymentPending",
               {start(), timedOut(9), recover("T-1"),
                answer("<Scr><Complete>1</Complete><Result><RC>p8</RC><RT>INVALID USER OR KEY</RT></Result></Scr>"),
                recover("T-1"), kApproved, recover("T-9")},
               {"journal sent T-1 Purchase 12.50", "> Purchase 30", "> Status 30 *8",
                "result 10 | no answer from the service within 30 s | sent", "> Status 30",
                "result 3 INVALID USER OR KEY | The service refused to say how T-1 ended (result 3, INVALID USER OR "
                "KEY): it stays to be recovered. | sent",
                "> Status 30", "journal answered T-1 Purchase 12.50 0", "result 0 | - | sent",
                "journal delivered T-1 Purchase 12.50 0", "journal sent T-9 - -", "> Status 30"},
               {.journal = true, .outcome = true}},
        // Another station is answered "not found", which reads as "not approved": a recovery
        // asks with the journal's station and user, and is refused with others.
        Script{"RecoveryAsksWithTheJournalsStationAndUser",
               {start(), timedOut(9), recover("T-1", {.station = "ST02"}), recover("T-1", {.user = "other"}),
                recover("T-1"), kApproved},
               {"journal sent T-1 Purchase 12.50", "> Purchase 30 by merchant at ST01", "> Status 30 by merchant at ST01 *8",
                "result 10", "result 4 The stationId ST02 is not the one T-1 was taken with (ST01): a recovery asks "
                "with the payment's own.",
                "result 8 The userName other is not the one T-1 was taken with (merchant): a recovery asks with the "
                "payment's own.",
                "> Status 30 by merchant at ST01", "journal answered T-1 Purchase 12.50 0", "result 0",
                "journal delivered T-1 Purchase 12.50 0"},
               {.journal = true, .who = true}},
        // Journalled: kept before the first request leaves, the final answer before the host
        // hears of it, delivered once the handler has returned. A till that simply starts the
        // same payment again after a crash learns its outcome: the first is followed, no second
        // transaction request goes out. A reference whose payment ended, or that another payment
        // holds, is refused: never "declined"; recovering it hands the kept result over without
        // asking the service.
        Script{"SameReferenceFollowsTheSamePaymentAndRefusesAnother",
               {start(), timedOut(9), start(), kApproved, start(), ref("T-2"), start(), timedOut(9), amount("13.00"),
                start(), recover("T-1")},
               {"journal sent T-1 Purchase 12.50", "> Purchase 30", "> Status 30 *8", "result 10", "> Status 30",
                "journal answered T-1 Purchase 12.50 0", "result 0", "journal delivered T-1 Purchase 12.50 0",
                "result 5 The txnRef T-1 is in the journal already, for a payment that ended with result 0: a "
                "reference is never used for a second payment.",
                "journal sent T-2 Purchase 12.50", "> Purchase 30", "> Status 30 *8", "result 10",
                "result 5 The txnRef T-2 is in the journal already, for another payment: a reference is never used "
                "for a second payment.",
                "result 0"},
               {.journal = true}},
        // A transaction request refused before a byte of it left is sent again by the next
        // start of the same payment: the service cannot have it.
        Script{"RequestThatNeverLeftIsSentAgain",
               {start(), refused(), timedOut(8), start(), kApproved},
               {"journal sent T-1 Purchase 12.50", "> Purchase 30", "journal sent T-1 Purchase 12.50 unsent",
                "> Status 30 *8", "result 10 | no answer from the service within 30 s | unsent",
                "journal sent T-1 Purchase 12.50", "> Purchase 30", "journal answered T-1 Purchase 12.50 0",
                "result 0 | - | sent", "journal delivered T-1 Purchase 12.50 0"},
               {.journal = true, .outcome = true}},
        // With acknowledged delivery the result stays answered, and is handed over again by
        // the same start, until the host acknowledges it; only then is the reference spent.
        Script{"AcknowledgedDeliveryKeepsTheResultUntilAcknowledged",
               {start(), kApproved, start(), ack("T-1"), ack("T-1"), ack("T-9"), start()},
               {"journal sent T-1 Purchase 12.50", "> Purchase 30", "journal answered T-1 Purchase 12.50 0", "result 0",
                "result 0", "journal delivered T-1 Purchase 12.50 0 acknowledged", "ack true", "ack true", "ack true",
                "result 5 The txnRef T-1 is in the journal already, for a payment that ended with result 0: a "
                "reference is never used for a second payment."},
               {.journal = true, .ack = true}},
        // The operator's way out for an entry settled by other means; never a running one.
        Script{"ForgetRemovesAnEntryThatIsNotRunning",
               {start(), forget("T-1"), timedOut(9), forget("T-9"), forget("T-1"), start()},
               {"journal sent T-1 Purchase 12.50", "> Purchase 30",
                "forget false The transaction T-1 is running: it cannot be forgotten now.", "> Status 30 *8",
                "result 10", "forget false The txnRef T-9 is not in the journal.", "journal forget T-1", "forget true",
                "journal sent T-1 Purchase 12.50", "> Purchase 30"},
               {.journal = true}},
        // Cancel presses the CANCEL shown, once; the transaction runs on to its result, which
        // is what the host gets (here an approval that came too late to stop).
        Script{"CancelPressesTheShownCancelAndTheResultStillComes",
               {kCard, cancel(), pressAnswered("<Scr/>"), cancel(), kApproved, cancel()},
               {"> Purchase 30", kCardShown, "> Status 45", "> UI B1=CANCEL 10", "cancel true", "x Status",
                "> Status 45", "cancel true", "result 0", "cancel false"}},
        // Asked before a CANCEL shows, it is pressed on the first that does (enabled exactly
        // as a signature's YES must be), and the signature is no longer answered for the operator.
        Script{"CancelWaitsForACancelAndStopsTheSignatureAnswer",
               {cancel(), answer(kSigYesNo), answer("<Scr><DL1>ENTER PIN</DL1><B1 en=\"2\">CANCEL</B1></Scr>"),
                answer("<Scr><DL1>ENTER PIN</DL1><B2 en=\"1\">Cancel</B2></Scr>"), pressAnswered("<Scr/>"),
                answer("<Scr><Complete>1</Complete><Result><RC>TC</RC></Result></Scr>")},
               {"> Purchase 30", "cancel true", "screen 5 SIGNATURE OK?| [YES|NO] rcpt=ABCD/EFGH/IJ/",
                "sig ABCD/EFGH/IJ/", "> Status 30", "screen 3 ENTER PIN| [CANCEL|-]", "> Status 30",
                "> UI B2=Cancel 10", "> Status 30", "result 1"},
               {.skip = true}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(EngineTest, StartAndRecoverWriteTheirDocumentsFromTheRecordsOfTheMoment) {
  start();
  EXPECT_EQ(last()->url, kWqKOVSecUrl);
  EXPECT_EQ(last()->body, *engine.generateRequest());
  details->txnRef = "T-2";
  details->key = "new-key";
  answer(kCardScreen);
  EXPECT_NE(last()->body.find("key=\"new-key\"><TxnRef>T-2</TxnRef>"), std::string::npos);
  EXPECT_EQ(engine.currentTimeoutInSeconds(), 45);
  EXPECT_EQ(engine.currentState(), KOVStateAwaitingCardSwipe);
  answer(kCompleteApproved);
  EXPECT_EQ(engine.currentState(), KOVStateInit);

  KOVTransactionRecoveryDetails r{
      .userName = "merchant", .key = "k", .stationId = "ST02", .txnRef = "T-9", .skipSignatureVerification = true};
  engine.recoverTransaction(r, false, false, nullptr, nullptr, resultHandler(), nullptr);
  EXPECT_NE(last()->body.find("key=\"k\"><TxnRef>T-9</TxnRef><Station>ST02</Station><TxnType>Status<"), std::string::npos);
  EXPECT_DOUBLE_EQ(last()->timeout, 30.0);
  EXPECT_EQ(engine.currentTxnTypeStr(), "Purchase") << "recovering leaves the type as it was";
  EXPECT_TRUE(engine.currentTxnDetails()->skipSignatureVerification);
  r.txnRef = "changed";  // the engine keeps its own copy
  answer(kCardScreen);
  EXPECT_NE(last()->body.find("<TxnRef>T-9</TxnRef>"), std::string::npos);
}

TEST_F(EngineTest, RefusedEndpointChangesNothingAndSaysWhy) {
  WqKOV bare;  // no session factory: the transaction ends at once with the time-out result
  bare.startTransaction(details, KOVTransactionTypePurchase, false, false, nullptr, nullptr, resultHandler(), nullptr);
  EXPECT_EQ(transcript, (std::vector<std::string>{"result 10"}));

  engine.setDebugLog(true, logHandler());  // the host's settings, before any transaction
  EXPECT_FALSE(engine.setEndpointUrls("https://ok.example/wqmi3/pos.aspx", "http://10.0.0.1/wqmi3/pos.aspx"));
  EXPECT_EQ(transcript.back(),
            "log I KOV endpoint refused: plain http is accepted only for a loopback host; use https.");
  EXPECT_EQ(engine.endpointUrl(true), kWqKOVUATUrl);
  ASSERT_TRUE(engine.setEndpointUrls("http://127.0.0.1:1/a", "http://127.0.0.1:2/b"));
  start();
  EXPECT_EQ(last()->url, "http://127.0.0.1:2/b");
  engine.resetEndpointUrls();
  EXPECT_EQ(engine.endpointUrl(false), kWqKOVSecUrl);
}

TEST_F(EngineTest, SessionKeptAfterTheTimeOutGoesWithANewFactory) {
  start();
  for (int i = 0; i < 9; ++i) net->fail(last());
  ASSERT_TRUE(engine.hasSession());
  auto other = std::make_shared<FakeNetwork>();
  engine.setSessionFactory([other] { return std::unique_ptr<KOVURLSession>(std::make_unique<FakeSession>(other)); });
  EXPECT_FALSE(engine.hasSession());
  start();
  EXPECT_EQ(other->posts.size(), 1u) << "the next transaction goes through the new factory";
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
  engine.reset();       // cancels both; their completions are still queued
  net->queue->drain();  // and run against an engine that no longer exists
  EXPECT_EQ(results, 0);
  EXPECT_TRUE(net->outstanding().empty());
}

}  // namespace
