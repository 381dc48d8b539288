// The curl session as the engine sees it: what reaches the wire, how answers and failures
// come back and what they say, how ended requests complete; the trusted certificates; the
// library's own loop.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <string_view>
#include <thread>
#include <tuple>

#include "KOVCurlSession.h"
#include "SimDocuments.h"
#include "Support.h"

namespace kovrel {
namespace {

struct Completion {
  std::optional<std::string> data;
  std::optional<KOVURLResponse> response;
  std::optional<KOVError> error;
};

// Completions in arrival order; shared with the handlers, since one may come after its test.
struct Recorder {
  std::vector<Completion> calls;
  bool inside = false;  // set around session calls: no completion may run from inside one
  bool ranInside = false;
  bool waitFor(std::size_t n) { return waitUntil([&] { return calls.size() >= n; }); }
};

ResponseHandler handlerOf(const std::shared_ptr<Recorder>& recorder) {
  return [recorder](const auto& data, const auto& response, const auto& error) {
    recorder->ranInside = recorder->ranInside || recorder->inside;
    recorder->calls.push_back({data, response, error});
  };
}

enum class Ending { Cancel, Invalidate, Destroy };

struct EndedCase {
  Ending ending;
  bool held;  // the service holds the requests (else they end right after posting)
};

class EndedRequests : public testing::TestWithParam<EndedCase> {};

TEST_P(EndedRequests, CompleteOnceEachAsCancelledLaterAndLeaveNoLineOpen) {
  const auto [ending, onTheWire] = GetParam();
  LoopbackSimulator sim(1);
  const auto recorder = std::make_shared<Recorder>();
  // Made from a factory of its own, so the session's loop goes with it.
  std::unique_ptr<KOVURLSession> session = KOVQtTransport::sessionFactory()();
  const int filesBefore = openFiles();
  // Every request of a "stall-first" transaction is held by the service for half a minute.
  const std::string ref = "HELD-" + std::to_string(static_cast<int>(ending)) + (onTheWire ? "-WIRE" : "");
  const std::string held = "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"k3y&amp;&lt;&quot;s%2F\"><TxnType>"
                           "Purchase</TxnType><TxnRef>" + ref + "</TxnRef><Station>S1</Station><MRef>sim:stall-first"
                           "</MRef></Scr>";
  std::vector<KOVRequestId> ids;
  recorder->inside = true;
  for (int i = 0; i < 3; ++i) ids.push_back(session->post(sim.server->url(), held, 60.0, handlerOf(recorder)));
  recorder->inside = false;
  ASSERT_TRUE(waitUntil([&] { return !onTheWire || sim.received(ref) == 3; }));
  recorder->inside = true;
  if (ending == Ending::Cancel) for (const KOVRequestId id : ids) session->cancel(id);
  if (ending == Ending::Invalidate) session->invalidateAndCancel();
  if (ending == Ending::Destroy) session.reset();
  // A second cancel, or one of an id never handed out, changes nothing; an invalidated
  // session posts nothing, but still answers once, later.
  if (session) session->cancel(ids[0]);
  if (session) session->cancel(ids.back() + 1000);
  if (ending == Ending::Invalidate) session->post(sim.server->url(), held, 60.0, handlerOf(recorder));
  recorder->inside = false;
  EXPECT_TRUE(recorder->calls.empty());
  const std::size_t expected = ending == Ending::Invalidate ? 4 : 3;
  ASSERT_TRUE(recorder->waitFor(expected));
  // The client's ends of the lines are closed; the service still holds its own.
  EXPECT_TRUE(waitUntil([&] { return openFiles() <= filesBefore + (onTheWire ? 3 : 0); })) << openFiles();
  EXPECT_EQ(recorder->calls.size(), expected);
  for (std::size_t i = 0; i < recorder->calls.size(); ++i) {
    const Completion& done = recorder->calls[i];
    ASSERT_TRUE(done.error);
    EXPECT_EQ(done.error->code, NSURLErrorCancelled);
    // Only a request that went out can have reached the service; the invalidated session's
    // post, last, never left.
    const bool closed = ending == Ending::Invalidate && i == 3;
    EXPECT_EQ(done.error->description, closed ? "the session has been closed" : "the request was cancelled");
    EXPECT_EQ(done.error->requestSent, onTheWire && !closed);
    EXPECT_FALSE(done.data);
  }
  EXPECT_FALSE(recorder->ranInside);
  EXPECT_EQ(sim.received(ref), onTheWire ? 3u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndedRequests,
                         testing::Values(EndedCase{.ending = Ending::Cancel, .held = true},
                                         EndedCase{.ending = Ending::Invalidate, .held = true},
                                         EndedCase{.ending = Ending::Destroy, .held = true},
                                         EndedCase{.ending = Ending::Cancel, .held = false},
                                         EndedCase{.ending = Ending::Invalidate, .held = false}),
                         [](const auto& info) {
                           const Ending ending = info.param.ending;
                           return std::string(ending == Ending::Cancel ? "cancel" : ending == Ending::Invalidate
                                              ? "invalidate" : "destroy") +
                                  (info.param.held ? "_on_the_wire" : "_before_leaving");
                         });

struct WireCase {
  const char* name;
  const char* scenario;  // the simulator's answer: the fault of "sim:" and this, from the transaction request on
  int32_t status = 0;    // the answer's status, with body; 0: the request fails with error
  std::string body = "";
  int32_t error = 0;
  std::optional<std::chrono::seconds> retryAfter = std::nullopt;
};

class OnTheWire : public testing::TestWithParam<WireCase> {};

TEST_P(OnTheWire, ThePostIsExactlyTheDocumentAndTheAnswerIsDataOrAnError) {
  const WireCase& wire = GetParam();
  LoopbackSimulator sim(1);
  const std::string url = sim.server->url();
  const auto recorder = std::make_shared<Recorder>();
  const std::unique_ptr<KOVURLSession> session = KOVQtTransport::sessionFactory()();
  const std::string document = "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"k3y&amp;&lt;&quot;s%2F\"><TxnType>"
                               "Purchase</TxnType><TxnRef>Z\xC3\xBCrich \xE2\x82\xAC</TxnRef><Station>S1</Station><MRef>sim:" +
                               std::string(wire.scenario) + "</MRef></Scr>";
  session->post(url, document, 5.0, handlerOf(recorder));
  ASSERT_TRUE(recorder->waitFor(1));
  // Nothing of ours but the content type and that no cache may keep the answer: no
  // "Expect:", no "Accept:", no offer of compressed answers.
  EXPECT_EQ(sim.server->lastRequest(), "POST /wqmi3/pos.aspx HTTP/1.1\r\nHost: 127.0.0.1:" +
                                           std::to_string(sim.server->port()) + "\r\nContent-Type: text/xml\r\n"
                                           "Cache-Control: no-store\r\nPragma: no-cache\r\n"
                                           "Content-Length: " + std::to_string(document.size()) + "\r\n\r\n" + document);
  const Completion& done = recorder->calls[0];
  EXPECT_EQ(done.error ? done.error->code : 0, wire.error);
  EXPECT_EQ(done.response ? done.response->statusCode : 0, wire.status);
  EXPECT_EQ(done.response ? done.response->url : url, url);
  EXPECT_EQ(done.data, wire.status ? std::optional(wire.body) : std::nullopt);
  EXPECT_EQ(done.response ? done.response->retryAfter : std::nullopt, wire.retryAfter);
}

// (A 503's Retry-After and two lengths that disagree are rows of the fault table.)
INSTANTIATE_TEST_SUITE_P(
    Answers, OnTheWire,
    testing::Values(
        WireCase{.name = "answer", .scenario = "truncated-first", .status = 200,
                 .body = kovsim::brokenBody(kovsim::SimFault::Truncated)},
        // A redirect would carry the merchant key elsewhere: it is an answer like any other.
        WireCase{.name = "redirect", .scenario = "http307-first", .status = 307},
        WireCase{.name = "cap", .scenario = "at-cap-first", .status = 200,
                 .body = kovsim::brokenBody(kovsim::SimFault::AtCap)},
        // Announced over the cap, nothing of it sent and the line held: it fails at once.
        WireCase{.name = "announced_over_cap", .scenario = "oversize-length-first",
                 .error = NSURLErrorDataLengthExceedsMaximum},
        // Without a length and never finished: only a check made while receiving ends it.
        WireCase{.name = "over_cap_unfinished", .scenario = "oversize-open-first",
                 .error = NSURLErrorDataLengthExceedsMaximum}),
    [](const auto& info) { return std::string(info.param.name); });

// Connections whose writing must wait: a body larger than the socket buffers posted to a
// server that starts reading late, and a connect to a listener whose queue is full (the
// connection is made when its SYN is sent again, a second later). Either goes on only when
// the driver reports write readiness; one that never does leaves curl waiting until the
// request's time-out, far beyond this test's bound. A time-out shorter than that second ends
// the connect: as on a network that drops it, nothing of the request can have left.
struct WaitingWrite {
  Driver driver;
  bool fullBacklog;  // else the large body
  double timeoutSeconds = 60.0;
};

class WriteReadiness : public testing::TestWithParam<WaitingWrite> {};

TEST_P(WriteReadiness, IsWaitedForAndReported) {
  const WaitingWrite& row = GetParam();
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
  ASSERT_EQ(::listen(listener, 0), 0);  // one connection waits in the queue, the next is dropped
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  const int blocker = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (row.fullBacklog) ::connect(blocker, reinterpret_cast<sockaddr*>(&address), length);
  const std::string body = row.fullBacklog ? std::string("<Scr/>") : std::string(32 << 20, 'x');
  std::thread server([listener, full = row.fullBacklog, expected = body.size()] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // a reader that starts late
    if (full) ::close(::accept(listener, nullptr, nullptr));
    const int line = ::accept(listener, nullptr, nullptr);
    if (line < 0) return;  // the client gave up before its connection was made
    std::string request;
    std::vector<char> chunk(1 << 16);
    std::size_t head = std::string::npos;
    for (ssize_t n; (head == std::string::npos || request.size() < head + 4 + expected) &&
                    (n = ::read(line, chunk.data(), chunk.size())) > 0;) {
      request.append(chunk.data(), std::size_t(n));
      head = request.find("\r\n\r\n");
    }
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
    EXPECT_EQ(::write(line, answer.data(), answer.size()), ssize_t(answer.size()));
    ::close(line);
  });
  const auto recorder = std::make_shared<Recorder>();
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/wqmi3/pos.aspx";
  const auto loop = std::make_shared<KOVPollLoop>();
  std::unique_ptr<KOVURLSession> session = row.driver == Driver::Own ? KOVCurlTransport::sessionFactory(loop)()
                                                                     : KOVQtTransport::sessionFactory()();
  session->post(url, body, row.timeoutSeconds, handlerOf(recorder));
  if (row.driver == Driver::Own) {
    loop->startTimer(std::chrono::seconds(10), [&] { loop->quit(); });
    loop->runUntil([&] { return !recorder->calls.empty(); });
  } else {
    recorder->waitFor(1);
  }
  ::shutdown(listener, SHUT_RDWR);  // a server still waiting to accept gives up
  session.reset();                  // a stalled transfer ends here, and the server with it
  server.join();
  for (const int fd : {listener, blocker}) ::close(fd);
  ASSERT_EQ(recorder->calls.size(), 1u);
  const std::optional<KOVError>& error = recorder->calls[0].error;
  if (row.timeoutSeconds < 1) {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, "no connection to 127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + " within 1 s");
    EXPECT_FALSE(error->requestSent);
  } else {
    EXPECT_EQ(recorder->calls[0].data, "ok");
  }
}

INSTANTIATE_TEST_SUITE_P(Drivers, WriteReadiness,
                         testing::Values(WaitingWrite{.driver = Driver::Qt, .fullBacklog = false},
                                         WaitingWrite{.driver = Driver::Qt, .fullBacklog = true},
                                         WaitingWrite{.driver = Driver::Own, .fullBacklog = false},
                                         WaitingWrite{.driver = Driver::Own, .fullBacklog = true},
                                         WaitingWrite{.driver = Driver::Own, .fullBacklog = true, .timeoutSeconds = 0.4}),
                         [](const auto& info) {
                           return std::string(info.param.driver == Driver::Qt ? "qt" : "own") +
                                  (info.param.fullBacklog ? "_full_backlog" : "_large_body") +
                                  (info.param.timeoutSeconds < 1 ? "_timed_out" : "");
                         });

using Fault = kovcurl::KOVCurlAnswerHead::Fault;

// An answer's head as curl hands it over, line by line (each with its CRLF), or, without a
// status line, as bytes of an HTTP/0.9 body: what the session reports of it, and the fault
// that ends the transfer at once (None: the transfer goes on).
struct HeadCase {
  const char* name;
  std::vector<std::string> lines = {};
  Fault fault = Fault::None;
  std::optional<std::chrono::seconds> retryAfter = std::nullopt;
  std::vector<std::string> unframed = {};
  bool toldAtEnd = false;  // the fault is known only once the answer has ended
};

class AnswerHead : public testing::TestWithParam<HeadCase> {};

TEST_P(AnswerHead, TellsWhatEndsTheTransferAndTheWaitAskedFor) {
  const HeadCase& row = GetParam();
  kovcurl::KOVCurlAnswerHead head;
  bool goesOn = true;
  for (const std::string& line : row.lines) goesOn = goesOn && head.takeLine(line);
  for (const std::string& bytes : row.unframed) goesOn = goesOn && head.takeUnframed(bytes);
  EXPECT_EQ(head.fault(), row.fault);
  // A fault known before the end ends the transfer; one told only by the end does not.
  EXPECT_EQ(goesOn, row.fault == Fault::None || row.toldAtEnd);
  EXPECT_EQ(head.retryAfter(), row.retryAfter);
}

constexpr const char* kOk = "HTTP/1.1 200 OK\r\n";
constexpr const char* kEnd = "\r\n";
constexpr std::string_view kSettings("\0\0\x06\x04\0\0\0\0\0\0\x03\0\0\0\x64", 15);

INSTANTIATE_TEST_SUITE_P(
    Heads, AnswerHead,
    testing::Values(
        HeadCase{"same_length_twice", {kOk, "Content-Length: 5\r\n", "content-length:5\r\n", kEnd}},
        HeadCase{.name = "two_lengths", .lines = {kOk, "Content-Length: 5\r\n", "Content-Length: 15\r\n"},
                 .fault = Fault::TwoLengths},
        HeadCase{.name = "two_lengths_in_one", .lines = {kOk, "Content-Length: 5, 15\r\n"}, .fault = Fault::TwoLengths},
        // An interim answer's head, and trailers after the head, are not the answer's head.
        HeadCase{"interim_answer_first",
                 {"HTTP/1.1 100 Continue\r\n", "Content-Length: 7\r\n", "Retry-After: 9\r\n", kEnd, kOk,
                  "Content-Length: 5\r\n", kEnd, "Content-Length: 6\r\n", kEnd}},
        HeadCase{.name = "retry_after",
                 .lines = {"HTTP/1.1 503 Service Unavailable\r\n", "retry-after:  120 \r\n", kEnd},
                 .retryAfter = std::chrono::seconds(120)},
        HeadCase{.name = "retry_after_unreadable_after_one",
                 .lines = {kOk, "Retry-After: 3\r\n", "Retry-After: soon\r\n", kEnd},
                 .retryAfter = std::chrono::seconds(3)},
        HeadCase{.name = "too_large",
                 .lines = {kOk, "X-Padding: " + std::string(60 * 1024, 'x') + kEnd,
                           "X-Padding: " + std::string(40 * 1024, 'x') + kEnd},
                 .fault = Fault::TooLarge},
        HeadCase{.name = "http2_settings", .fault = Fault::Http2Only, .unframed = {std::string(kSettings)}},
        HeadCase{.name = "http2_settings_in_pieces", .fault = Fault::Http2Only,
                 .unframed = {std::string(kSettings.substr(0, 4)), std::string(kSettings.substr(4))}},
        HeadCase{.name = "settings_of_odd_length", .fault = Fault::NotHttp,
                 .unframed = {std::string("\0\0\x05\x04\0\0\0\0\0", 9)}},
        HeadCase{.name = "tls_alert", .fault = Fault::NotHttp,
                 .unframed = {std::string("\x15\x03\x01\x00\x02\x02\x46", 7)}},
        HeadCase{.name = "cut_short", .fault = Fault::NotHttp, .unframed = {std::string("\0\0\x06", 3)},
                 .toldAtEnd = true}),
    [](const auto& info) { return std::string(info.param.name); });

// A Retry-After value, read at a fixed time of arrival: whole seconds, or an HTTP date less
// that time (0 once gone); anything else is none.
class RetryAfter : public testing::TestWithParam<std::tuple<const char*, const char*, std::optional<int64_t>>> {};

TEST_P(RetryAfter, IsSecondsOrADateLessItsArrival) {
  const auto& [name, value, seconds] = GetParam();
  const std::time_t arrived = curl_getdate("Sun, 06 Nov 1994 08:49:37 GMT", nullptr);
  const std::optional<std::chrono::seconds> read = kovcurl::KOVCurlAnswerHead::retryAfterOf(value, arrived);
  EXPECT_EQ(read, seconds ? std::optional(std::chrono::seconds(*seconds)) : std::nullopt) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RetryAfter,
    testing::Values(std::tuple{"seconds", "120", 120}, std::tuple{"zero", "0", 0},
                    std::tuple{"blanks_around", " \t7 ", 7},
                    std::tuple{"past_any_wait", "99999999999999999999999", 2147483647},
                    std::tuple{"date_ahead", "Sun, 06 Nov 1994 08:50:07 GMT", 30},
                    std::tuple{"date_gone", "Sun, 06 Nov 1994 08:49:00 GMT", 0},
                    std::tuple{"empty", "", std::nullopt}, std::tuple{"word", "soon", std::nullopt},
                    std::tuple{"fraction", "1.5", std::nullopt}, std::tuple{"negative", "-5", std::nullopt}),
    [](const auto& info) { return std::string(std::get<0>(info.param)); });

TEST(CurlSession, GivesEveryRequestAFiniteTimeOut) {
  const std::pair<double, long> table[] = {{30.0, 30000},       {0.0001, 1},  {0.0, 60000},
                                           {-5.0, 60000},       {1e12, std::numeric_limits<int>::max()},
                                           {std::nan(""), 60000}, {std::numeric_limits<double>::infinity(), 60000}};
  for (const auto& [seconds, ms] : table) EXPECT_EQ(kovcurl::KOVCurlSession::transferTimeoutMs(seconds), ms) << seconds;
}

// The key travels in every body: the session itself posts only over https, or plain http to
// this machine. A refused URL never leaves; an accepted one (code 0) names its server in
// errors as HOST:PORT.
TEST(CurlSession, RefusesUnsafeUrlsBeforeAnyConnectionAndNamesTheServerOfOthers) {
  constexpr const char* kScheme = "the URL's scheme is not supported";
  constexpr const char* kInvalid = "the URL is not valid for this service";
  constexpr const char* kPlain = "plain http is used only for this machine";
  const std::tuple<const char*, int32_t, const char*> table[] = {
      {"http://example.com/wqmi3/pos.aspx", NSURLErrorUnsupportedURL, kPlain},
      {"ftp://127.0.0.1/wqmi3/pos.aspx", NSURLErrorUnsupportedURL, kScheme},
      {"https://", NSURLErrorBadURL, kInvalid},
      {"https://user@127.0.0.1/x", NSURLErrorBadURL, kInvalid},
      {"HTTP://127.0.0.1:8080/x", 0, "127.0.0.1:8080"},
      {"HTTPS://pay.example.com/wqmi3/pos.aspx", 0, "pay.example.com:443"},
      {"http://localhost/x", 0, "localhost:80"},
      {"http://[::1]:8080/wqmi3/pos.aspx", 0, "[::1]:8080"}};
  for (const auto& [url, code, text] : table) {
    const std::optional<KOVError> refusal = kovcurl::KOVCurlSession::refusalOf(url);
    EXPECT_EQ(refusal ? refusal->code : 0, code) << url;
    EXPECT_EQ(refusal ? refusal->description : kovcurl::KOVCurlSession::serverOf(url).authority, text) << url;
    EXPECT_FALSE(refusal && refusal->requestSent) << url;
  }
}

TEST(TrustedCertificates, WhatHoldsNoCertificateIsRefusedWithItsReasonAndAddsNothing) {
  LoopbackSimulator sim(20, true);
  const kovsim::SimCertificateFiles& files = *sim.server->certificates();
  std::string why;
  EXPECT_FALSE(KOVQtTransport::addTrustedCertificates(files.caCertificate + ".missing", &why));
  EXPECT_EQ(why.rfind("cannot read " + files.caCertificate + ".missing: ", 0), 0u) << why;
  EXPECT_FALSE(KOVQtTransport::addTrustedCertificates(files.serverKey, &why));
  EXPECT_EQ(why, files.serverKey + " holds no PEM certificate");
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificatesPem("", &why));
  EXPECT_EQ(why, "no PEM certificate found");
  // A block that only looks like a certificate would fail every later handshake instead.
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificatesPem(
      "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n"));
  // With the test CA added (twice), a handshake succeeds: the refusals left nothing behind.
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(files.caCertificate));
  const auto recorder = std::make_shared<Recorder>();
  const std::unique_ptr<KOVURLSession> session = KOVQtTransport::sessionFactory()();
  session->post(sim.server->url(), "<Scr/>", 5.0, handlerOf(recorder));
  ASSERT_TRUE(recorder->waitFor(1));
  EXPECT_FALSE(recorder->calls[0].error) << recorder->calls[0].error->description;
  KOVQtTransport::clearTrustedCertificates();
}

// A session kept after the time-out result verifies with the trust of its day: trusting the
// CA afterwards lets the engine's next transaction through instead of failing as before.
TEST(TrustedCertificates, ChangingThemDropsASessionKeptAfterATimeOut) {
  LoopbackSimulator sim(20, true);
  const auto loop = std::make_shared<KOVPollLoop>();
  WqKOV engine;
  KOVCurlTransport::install(engine, loop);
  ASSERT_TRUE(engine.setEndpointUrls(sim.server->url(), sim.server->url()));
  std::vector<KOVTransactionResult> results;
  const auto purchase = [&](const char* ref) {
    auto details = std::make_shared<KOVTransactionDetails>();
    details->userName = "merchant";
    details->key = kTestKey;
    details->stationId = details->txnRef = ref;
    engine.startTransaction(details, KOVTransactionTypeVoid, true, false, nullptr, nullptr,
                            [&](KOVTransactionResultDetails r) { results.push_back(r.transactionResult); }, nullptr);
    loop->run(engine);
  };
  purchase("T-UNTRUSTED");
  ASSERT_TRUE(engine.hasSession());
  ASSERT_TRUE(KOVCurlTransport::addTrustedCertificates(sim.server->certificates()->caCertificate));
  purchase("T-TRUSTED");
  EXPECT_EQ(results, (std::vector{KOVTransactionResultTimeout, KOVTransactionResultSucceeded}));
  KOVCurlTransport::clearTrustedCertificates();
}

// The library's own event loop beyond what a transaction asks of it: the order of posted work
// and timers, work posted from other threads, quit, and watches ended by another handler.
TEST(PollLoop, RunsPostedWorkThenDueTimersWakesForOtherThreadsAndStopsOnQuit) {
  KOVPollLoop loop;
  std::vector<int> ran;
  loop.startTimer(std::chrono::milliseconds(30), [&] { ran.push_back(30); });
  const KOVEventLoop::TimerId cancelled = loop.startTimer(std::chrono::milliseconds(10), [&] { ran.push_back(-1); });
  loop.startTimer(std::chrono::milliseconds(0), [&] {
    ran.push_back(0);
    loop.cancelTimer(cancelled);
  });
  loop.post([&] { ran.push_back(100); });
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 3; }));
  EXPECT_EQ(ran, (std::vector<int>{100, 0, 30}));
  // Nothing is left to wait for: the loop says so instead of blocking.
  EXPECT_FALSE(loop.runUntil([] { return false; }));

  int idle[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, idle), 0);
  loop.watchSocket(idle[0], KOVSocketRead, [](uint32_t) {});  // the loop waits in poll()
  std::thread worker([&] {
    for (int i = 1; i <= 20; ++i) loop.post([&, i] { ran.push_back(i); });
    loop.post([&] { loop.quit(); });
    loop.post([&] { ran.push_back(21); });
  });
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  worker.join();
  EXPECT_EQ(ran.size(), 23u);
  EXPECT_TRUE(loop.runUntil([&] { return ran.size() == 24; }));  // quit is forgotten
  for (int i = 1; i <= 21; ++i) EXPECT_EQ(ran[std::size_t(i) + 2], i);
  for (const int fd : idle) ::close(fd);
}

TEST(PollLoop, SocketWatchReportsReadinessUntilUnwatchedEvenFromAnotherHandler) {
  KOVPollLoop loop;
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  std::vector<uint32_t> seen;
  int otherCalls = 0;
  // Sockets are handled in the order of their descriptors, the lower one first.
  loop.watchSocket(pair[0], KOVSocketWrite, [&](uint32_t ready) {
    seen.push_back(ready);
    loop.unwatchSocket(pair[0]);
    loop.unwatchSocket(pair[1]);  // ready in the same round: its handler must not run
  });
  ASSERT_EQ(::write(pair[0], "x", 1), 1);
  loop.watchSocket(pair[1], KOVSocketRead, [&](uint32_t) { ++otherCalls; });
  loop.startTimer(std::chrono::milliseconds(50), [] {});
  EXPECT_FALSE(loop.runUntil([] { return false; }));
  EXPECT_EQ(seen, (std::vector<uint32_t>{KOVSocketWrite}));
  EXPECT_EQ(otherCalls, 0);
  for (const int fd : pair) ::close(fd);
}

}  // namespace
}  // namespace kovrel
