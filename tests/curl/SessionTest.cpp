// The curl session on the library's own loop: what reaches the wire, how answers and failures
// come back and what they say, the URLs it refuses and the certificates it trusts (with the
// cases of SessionCases.cpp). kov-simulator's server runs in this process.
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

// A session on a loop of its own; the loop looks at done() every 10 ms, so that what the
// server's thread does is seen too.
kovtest::Client kovtest::makeClient() {
  auto loop = std::make_shared<KOVPollLoop>();
  auto runFor = [loop](const std::function<bool()>& done, int deadlineMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (!done() && std::chrono::steady_clock::now() < until) {
      bool tick = false;
      const KOVEventLoop::TimerId timer = loop->startTimer(std::chrono::milliseconds(10), [&tick] { tick = true; });
      loop->runUntil([&] { return tick || done(); });
      loop->cancelTimer(timer);
    }
    return done();
  };
  return {KOVCurlTransport::sessionFactory(loop)(), runFor};
}

namespace {

using namespace kovtest;

INSTANTIATE_TEST_SUITE_P(OwnLoop, EndedRequests, kEndings, byName);
INSTANTIATE_TEST_SUITE_P(OwnLoop, WriteReadiness, kWaitingWrites, byName);

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
  const Client client = makeClient();
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
    byName);

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
  const Client client = makeClient();
  client.session->post(sim.server.url(), "<Scr/>", 5.0, client.handler());
  ASSERT_TRUE(client.waitFor(1));
  EXPECT_FALSE(client.record->calls[0].error) << client.record->calls[0].error->description;
  KOVCurlTransport::clearTrustedCertificates();
}

}  // namespace
