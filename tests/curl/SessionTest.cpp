// The curl session on the library's own loop: what reaches the wire, how answers and failures
// come back and what they say, how ended requests complete, writes that must wait, the URLs it
// refuses and the certificates it trusts. kov-simulator's server runs in this process.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "KOVCurlSession.h"
#include "SessionFixtures.h"
#include "SimDocuments.h"

namespace {

using namespace kovtest;

// A session on a loop of its own, and its completions.
struct Client {
  std::shared_ptr<KOVPollLoop> loop = std::make_shared<KOVPollLoop>();
  std::unique_ptr<KOVURLSession> session = KOVCurlTransport::sessionFactory(loop)();
  std::shared_ptr<Record> record = std::make_shared<Record>();

  ResponseHandler handler() const { return recordInto(record); }
  // Runs the loop until done() holds or the deadline passes; it looks every 10 ms, so that
  // what the server's thread does is seen too.
  bool runUntil(const std::function<bool()>& done, int deadlineMs = 10000) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done() && std::chrono::steady_clock::now() < until) {
      bool tick = false;
      const KOVEventLoop::TimerId timer = loop->startTimer(std::chrono::milliseconds(10), [&tick] { tick = true; });
      loop->runUntil([&] { return tick || done(); });
      loop->cancelTimer(timer);
    }
    return done();
  }
  bool waitFor(std::size_t n) const { return runUntil([this, n] { return record->calls.size() >= n; }); }
};

enum class Ending { Cancel, Invalidate, Destroy };

struct EndedCase {
  const char* name;
  Ending ending;
  bool held;  // the service holds the requests (else they end right after posting)
};

class EndedRequests : public testing::TestWithParam<EndedCase> {};

TEST_P(EndedRequests, CompleteOnceEachAsCancelledLaterAndLeaveNoLineOpen) {
  const auto [name, ending, onTheWire] = GetParam();
  Loopback sim;
  Client client;
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
    EXPECT_FALSE(calls[i].data);
  }
  EXPECT_FALSE(client.record->ranInside);
  EXPECT_EQ(sim.received(ref), onTheWire ? 3u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Endings, EndedRequests,
                         testing::Values(EndedCase{"cancel_on_the_wire", Ending::Cancel, true},
                                         EndedCase{"invalidate_on_the_wire", Ending::Invalidate, true},
                                         EndedCase{"destroy_on_the_wire", Ending::Destroy, true},
                                         EndedCase{"cancel_before_leaving", Ending::Cancel, false},
                                         EndedCase{"invalidate_before_leaving", Ending::Invalidate, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct WireCase {
  const char* name;
  const char* scenario;  // the simulator's answer: the fault of "sim:" and this, from the transaction request on
  int32_t status = 0;    // the answer's status, with body; 0: the request fails with error
  std::string body = "";
  int32_t error = 0;
};

class OnTheWire : public testing::TestWithParam<WireCase> {};

TEST_P(OnTheWire, ThePostIsExactlyTheDocumentAndTheAnswerIsDataOrAnError) {
  const WireCase& wire = GetParam();
  Loopback sim;
  const std::string url = sim.server.url();
  Client client;
  const std::string document = purchase("Z\xC3\xBCrich \xE2\x82\xAC", wire.scenario);
  // A proxy the environment names is not used for this machine.
  ::setenv("http_proxy", "http://127.0.0.1:9", 1);
  client.session->post(url, document, 5.0, client.handler());
  const bool answered = client.waitFor(1);
  ::unsetenv("http_proxy");
  ASSERT_TRUE(answered);
  // Nothing of ours but the content type and that no cache may keep the answer: no
  // "Expect:", no "Accept:", no offer of compressed answers.
  EXPECT_EQ(sim.server.lastRequest(), "POST /wqmi3/pos.aspx HTTP/1.1\r\nHost: 127.0.0.1:" +
                                          std::to_string(sim.server.port()) + "\r\nContent-Type: text/xml\r\n"
                                          "Cache-Control: no-store\r\nPragma: no-cache\r\n"
                                          "Content-Length: " + std::to_string(document.size()) + "\r\n\r\n" + document);
  const Completion& done = client.record->calls[0];
  EXPECT_EQ(done.error ? done.error->code : 0, wire.error);
  EXPECT_EQ(done.response ? done.response->statusCode : 0, wire.status);
  EXPECT_EQ(done.response ? done.response->url : url, url);
  EXPECT_EQ(done.data, wire.status ? std::optional(wire.body) : std::nullopt);
}

// (A 503's Retry-After and two lengths that disagree are rows of the fault table.)
INSTANTIATE_TEST_SUITE_P(
    Answers, OnTheWire,
    testing::Values(
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

// Writing that must wait (LateReader) goes on only when the loop reports write readiness; a
// loop that never does leaves curl waiting until the request's time-out, far beyond this
// test's bound. A time-out shorter than the second a full listen queue takes ends the
// connect: as on a network that drops it, nothing of the request can have left.
class WriteReadiness : public testing::TestWithParam<WaitingWrite> {};

TEST_P(WriteReadiness, IsWaitedForAndReported) {
  const WaitingWrite& row = GetParam();
  const std::string body = row.fullBacklog ? std::string("<Scr/>") : std::string(32 << 20, 'x');
  const LateReader server(row.fullBacklog, body.size());
  Client client;
  client.session->post(server.url(), body, row.timeoutSeconds, client.handler());
  client.waitFor(1);
  ASSERT_EQ(client.record->calls.size(), 1u);
  const std::optional<KOVError>& error = client.record->calls[0].error;
  if (row.timeoutSeconds < 1) {
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description, "no connection to " + server.authority + " within 1 s");
    EXPECT_FALSE(error->requestSent);
  } else {
    EXPECT_EQ(client.record->calls[0].data, "ok");
  }
}

INSTANTIATE_TEST_SUITE_P(Waits, WriteReadiness,
                         kWaitingWrites,
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CurlSession, GivesEveryRequestAFiniteTimeOut) {
  const std::pair<double, long> table[] = {{30.0, 30000},
                                           {0.0001, 1},
                                           {0.0, 60000},
                                           {1e12, std::numeric_limits<int>::max()},
                                           {std::numeric_limits<double>::infinity(), 60000}};
  for (const auto& [seconds, ms] : table) EXPECT_EQ(kovcurl::KOVCurlSession::transferTimeoutMs(seconds), ms) << seconds;
}

// The key travels in every body: the session itself posts only over https, or plain http to
// this machine. A refused URL never leaves; an accepted one (code 0) names its server in
// errors as HOST:PORT.
TEST(CurlSession, RefusesUnsafeUrlsBeforeAnyConnectionAndNamesTheServerOfOthers) {
  constexpr const char* kInvalid = "the URL is not valid for this service";
  const std::tuple<const char*, int32_t, const char*> table[] = {
      {"http://example.com/wqmi3/pos.aspx", NSURLErrorUnsupportedURL, "plain http is used only for this machine"},
      {"ftp://127.0.0.1/wqmi3/pos.aspx", NSURLErrorUnsupportedURL, "the URL's scheme is not supported"},
      {"https://", NSURLErrorBadURL, kInvalid},
      {"https://user@127.0.0.1/x", NSURLErrorBadURL, kInvalid},
      {"HTTP://127.0.0.1:8080/x", 0, "127.0.0.1:8080"},
      {"HTTPS://pay.example.com/wqmi3/pos.aspx", 0, "pay.example.com:443"},
      {"http://[::1]:8080/wqmi3/pos.aspx", 0, "[::1]:8080"}};
  for (const auto& [url, code, text] : table) {
    const std::optional<KOVError> refusal = kovcurl::KOVCurlSession::refusalOf(url);
    EXPECT_EQ(refusal ? refusal->code : 0, code) << url;
    EXPECT_EQ(refusal ? refusal->description : kovcurl::KOVCurlSession::serverOf(url).authority, text) << url;
    EXPECT_FALSE(refusal && refusal->requestSent) << url;
  }
}

TEST(TrustedCertificates, WhatHoldsNoCertificateIsRefusedWithItsReasonAndAddsNothing) {
  Loopback sim(true);
  const kovsim::SimCertificateFiles& files = *sim.server.certificates();
  std::string why;
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificates(files.caCertificate + ".missing", &why));
  EXPECT_EQ(why.rfind("cannot read " + files.caCertificate + ".missing: ", 0), 0u) << why;
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificates(files.serverKey, &why));
  EXPECT_EQ(why, files.serverKey + " holds no PEM certificate");
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificatesPem("", &why));
  EXPECT_EQ(why, "no PEM certificate found");
  // A block that only looks like a certificate would fail every later handshake instead.
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificatesPem(
      "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n"));
  // With the test CA added (twice), a handshake succeeds: the refusals left nothing behind.
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(KOVCurlTransport::addTrustedCertificates(files.caCertificate));
  Client client;
  client.session->post(sim.server.url(), "<Scr/>", 5.0, client.handler());
  ASSERT_TRUE(client.waitFor(1));
  EXPECT_FALSE(client.record->calls[0].error) << client.record->calls[0].error->description;
  KOVCurlTransport::clearTrustedCertificates();
}

}  // namespace
