// Every fault the simulator plays, met by the engine over the real transport on Qt's event
// loop (kov-cli's runs meet the library's own loop). A fault the client gets no usable answer from is a URL-layer
// failure: logged with its exact reason and code, retried, and the ninth in a row ends the
// transaction with the time-out result, whose reason is the last failure's; a broken answer
// is an answer: what was read before its fault is used and the next poll follows. Whatever
// the fault: exactly one result, nothing sent after it, every request sent once, nothing
// left open, and the merchant key in nothing the host is handed.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "SimServer.h"

namespace kovrel {
namespace {

/// The merchant key of these tests; its characters need escaping in XML, JSON and URLs.
constexpr const char* kTestKey = "k3y&<\"s%2F";

/// Runs the Qt event loop until done() holds or the deadline passes; true if done() held.
bool waitUntil(const std::function<bool()>& done, int deadlineMs = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadlineMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

int openFiles() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<int>(std::distance(std::filesystem::begin(fds), std::filesystem::end(fds)));
}

/// True when text holds the key in any form: its first three characters need no escaping,
/// so every form of it (raw, escaped for XML, JSON or a URL) starts with them.
bool holdsKey(const std::string& text) { return text.find(std::string(kTestKey, 3)) != std::string::npos; }

/// A row's text as the transport words it here: "{server}" stands for authority, the server's
/// HOST:PORT, whose port is chosen at run time; "{tls}" for the TLS library curl names in its
/// reasons ("OpenSSL/3.0.19").
std::string expanded(const std::string& text, const std::string& authority) {
  const std::string filled = std::regex_replace(text, std::regex(R"(\{server\})"), authority);
  return std::regex_replace(filled, std::regex(R"(\{tls\})"), curl_version_info(CURLVERSION_NOW)->ssl_version);
}

// kov-simulator's server in this process (127.0.0.1, a port the system picks): a clock at the
// given speed, a poll time-out of 1 s and the tests' key; with tls, a fresh test CA is written
// to a temporary folder.
struct LoopbackSimulator {
  explicit LoopbackSimulator(double speed, bool tls = false,
                             kovsim::SimCertificateKind certificate = kovsim::SimCertificateKind::Valid,
                             bool oldTls = false)
      : server({.port = 0, .tls = tls, .certDir = certDir.path().toStdString(), .certificate = certificate,
                .oldTls = oldTls, .scenario = {}, .speed = speed, .tmoSeconds = 1, .key = kTestKey, .stations = {},
                .offline = {}},
               nullptr) {
    std::string error;
    EXPECT_TRUE(server.start(error)) << "the simulator did not start: " << error;
  }
  // Requests of every type that reached the service for the TxnRef.
  std::uint64_t received(const std::string& txnRef) {
    const kovsim::SimStats& stats = server.service().stats();
    return stats.count(txnRef, "Purchase") + stats.count(txnRef, "Status") + stats.count(txnRef, "UI");
  }

  QTemporaryDir certDir;
  kovsim::SimServer server;
};

/// Purchases of 12.50 AUD with debug logging on, on a station named after their TxnRef, by
/// WqKOV::get() on Qt's event loop; the signature is answered for the host.
class EngineRun {
 public:
  EngineRun(const std::string& url, const std::string& txnRef, const std::string& merchantRef, const std::string& key,
            double retrySpacing = 0) {
    KOVQtTransport::install(engine);
    engine.setEndpointUrls(url, url);
    engine.setRetrySpacing(retrySpacing);
    engine.setPollFloor(0);  // polls at once, as the rows' counts and run times assume
    start(txnRef, merchantRef, key);
  }

  void start(const std::string& txnRef, const std::string& merchantRef, const std::string& key) {
    auto details = std::make_shared<KOVTransactionDetails>();
    details->userName = "merchant";
    details->key = key;
    details->stationId = "ST-" + txnRef;
    details->amount = KOVDecimal::parse("12.50");
    details->currencyCode = "AUD";
    details->txnRef = txnRef;
    details->merchantRef = merchantRef;
    details->skipSignatureVerification = true;
    ++_started;
    // The handlers share the record, since they may outlive a failed test.
    engine.startTransaction(
        details, KOVTransactionTypePurchase, true, true,
        [record = record](KOVTransactionLogEntryType type, const std::string& entry) {
          record->log.emplace_back(type, entry);
          record->logTimes.push_back(std::chrono::steady_clock::now());
        },
        [record = record](KOVState, const std::optional<std::string>&, const std::string& first,
                          const std::string& second, const std::optional<std::string>&,
                          const std::optional<std::string>&) { record->screens.push_back(first + "|" + second); },
        [record = record](KOVTransactionResultDetails result) { record->results.push_back(std::move(result)); },
        nullptr);
  }

  /// Runs the loop until the result is delivered; false after the deadline.
  bool finish(int deadlineMs) {
    return waitUntil([this] { return record->results.size() >= _started; }, deadlineMs);
  }
  // Transaction, status and button requests sent so far.
  std::ptrdiff_t sent() const {
    return std::count_if(record->log.begin(), record->log.end(),
                         [](const auto& entry) { return entry.first == KOVTransactionLogEntryRequestContent; });
  }
  /// Every text the host was handed: log entries, screen lines, the result's fields.
  std::string everythingReported() const {
    std::string all;
    for (const auto& [kind, entry] : record->log) all += entry + "\n";
    for (const std::string& screen : record->screens) all += screen + "\n";
    for (const auto& result : record->results) {
      for (const auto& [key, value] : result.response ? *result.response : NSStringDictionary()) {
        all += key + "=" + value + "\n";
      }
    }
    return all;
  }

  struct Record {
    std::vector<KOVTransactionResultDetails> results;
    std::vector<std::string> screens;  // each as "LINE1|LINE2"
    std::vector<std::pair<KOVTransactionLogEntryType, std::string>> log;
    std::vector<std::chrono::steady_clock::time_point> logTimes;  // when each log entry came
  };
  const std::shared_ptr<Record> record = std::make_shared<Record>();
  WqKOV& engine = WqKOV::get();

 private:
  std::size_t _started = 0;
};


using Kind = kovsim::SimCertificateKind;

// A failure in the transport's plain words, as expanded() fills them in ("{server}" ...), which
// is what the host is told; the log's error entry keeps its code of NSURLErrorDomain beside
// them. An answer without a screen has no code.
struct Reason {
  constexpr Reason(const char* text = "", int32_t urlCode = 0) : words(text), code(urlCode) {}
  std::string logged(const std::string& authority) const {
    return expanded(words, authority) + (code ? " (NSURLErrorDomain " + std::to_string(code) + ")" : "");
  }
  const char* words;
  int32_t code;
};

struct Row {
  const char* scenario;  // the transaction's merchant reference is "sim:" and this
  KOVTransactionResult result;
  int failures = 0;             // the highest "KOV Timeout. Starting attempt N": 0 none, 9 the time-out
  Reason reason = {};           // the first failure (the error entry before the first retry line)
  int received = -1;            // requests that reached the service; -1: each one the client sent
  const char* shown = "";       // a screen "LINE1|LINE2" the host must have been shown
  // Plain http (""), or https: its test CA trusted as PEM text ("pem"), added and then
  // forgotten ("cleared", trusted again as a file for a second transaction), or a certificate
  // or protocol to refuse.
  std::string tls = "";
  bool wrongKey = false;
  double spacing = 0;  // retry spacing in seconds: the run lasts at least eight of them
  double waits = 0;    // seconds from each failure to the request after it, at the least
  // The simulator's clock: at 20 its screens change every 50 to 100 ms, at 4 every 250 to 500 ms.
  double speed = 20;
};

constexpr auto kOk = KOVTransactionResultSucceeded;
constexpr auto kTimeout = KOVTransactionResultTimeout;
constexpr const char* kCardScreen = "PRESENT/INSERT CARD|PURCHASE       AUD 12.50";
constexpr Reason kLost{"the connection to {server} was lost", NSURLErrorNetworkConnectionLost};
constexpr Reason kClosed{"{server} closed the connection without an answer", NSURLErrorNetworkConnectionLost};
constexpr Reason kLostAfterSending{"the connection to {server} was lost after the request was sent",
                                   NSURLErrorNetworkConnectionLost};
constexpr Reason kTimedOut{"no answer from {server} within 1 s", NSURLErrorTimedOut};
constexpr Reason kRefused{"connection refused by {server}", NSURLErrorCannotConnectToHost};
constexpr Reason kOversize{"the answer from {server} is larger than 1 MiB", NSURLErrorDataLengthExceedsMaximum};
constexpr Reason kHttp2Only{"{server} answers in HTTP/2 only", NSURLErrorBadServerResponse};
constexpr Reason kHugeHeader{"the answer from {server} has a header too large to read", NSURLErrorBadServerResponse};
constexpr Reason kTwoLengths{"the answer from {server} is malformed: two different Content-Length headers",
                             NSURLErrorBadServerResponse};
constexpr Reason kUnknownIssuer{
    "certificate not trusted: SSL certificate problem: unable to get local issuer certificate",
    NSURLErrorServerCertificateUntrusted};
constexpr Reason kExpired{"certificate not trusted: SSL certificate problem: certificate has expired",
                          NSURLErrorServerCertificateUntrusted};
constexpr Reason kWrongHost{
    "certificate not trusted: SSL: no alternative certificate subject name matches target host name '127.0.0.1'",
    NSURLErrorServerCertificateUntrusted};
constexpr Reason kOldTls{
    "no secure connection to {server}: {tls}: error:0A00042E:SSL routines::tlsv1 alert protocol version",
    NSURLErrorSecureConnectionFailed};
constexpr Reason kNoScreen = "HTTP 200 without a screen";

const std::vector<Row> kRows = {
    // The terminal's own endings, for the key checks; the signature's press is a second
    // request beside the poll.
    {.scenario = "approve", .result = kOk, .shown = kCardScreen},
    {.scenario = "signature", .result = kOk},
    {.scenario = "approve", .result = KOVTransactionResultUserKeyNotMatched, .received = 1, .wrongKey = true},
    // Failures that last, from the first poll on: the transaction request and nine polls
    // reach the service. The first poll goes out on the kept-alive connection.
    {.scenario = "reset-body", .result = kTimeout, .failures = 9, .reason = kLost, .received = 10},
    {.scenario = "oversize", .result = kTimeout, .failures = 9, .reason = kOversize, .received = 10},
    // An HTTP/2-only front, a header over what a client keeps, two lengths that disagree (a
    // client that took one would wait out each poll's time-out): each fails at once.
    {.scenario = "http2-only", .result = kTimeout, .failures = 9, .reason = kHttp2Only, .received = 10},
    {.scenario = "huge-header", .result = kTimeout, .failures = 9, .reason = kHugeHeader, .received = 10},
    {.scenario = "double-length", .result = kTimeout, .failures = 9, .reason = kTwoLengths, .received = 10},
    // From the transaction request on, on a fresh connection: it and eight polls.
    {.scenario = "close-first", .result = kTimeout, .failures = 9, .reason = kClosed, .received = 9},
    // Failures that pass (the count that each answer starts afresh is the engine's own table).
    // A busy service asks for a second's rest: the poll after each 503 waits for it.
    {.scenario = "http503-1", .result = kOk, .failures = 1, .reason = "HTTP 503 without a screen", .waits = 1},
    // A kept-alive connection closed after the request reached the server: curl would send
    // the request again by itself on a new connection, the service would see the poll twice
    // and the fault would never show. The request is sent once and fails instead.
    {.scenario = "close-1", .result = kOk, .failures = 1, .reason = kLostAfterSending},
    // Held past the poll's time-out of 1 s by an answer that trickles in: the whole request is
    // bounded, not each gap (an answer held without a byte is bounded alike).
    {.scenario = "trickle-1", .result = kOk, .failures = 1, .reason = kTimedOut},
    // A broken answer in place of a screen: what was read before the bytes that are not UTF-8
    // is shown, the declined end after them never taken (broken and deep documents, and
    // answers with a screen whatever their status, are the parser's and the engine's tables).
    {.scenario = "bad-utf8", .result = kOk, .shown = "BAD|"},
    // Answers without a screen (a document type declaring entities) stand for the three screens
    // before the result: each is a failure, forgiven by the next answer. The screens last long
    // enough that a slow run still polls once on each.
    {.scenario = "doctype", .result = kOk, .failures = 3, .reason = kNoScreen, .speed = 4},
    // Certificates and protocols a client must refuse before it sends anything.
    {.scenario = "approve", .result = kTimeout, .failures = 9, .reason = kUnknownIssuer, .received = 0,
     .tls = "cleared"},
    {.scenario = "approve", .result = kTimeout, .failures = 9, .reason = kExpired, .received = 0, .tls = "expired"},
    {.scenario = "approve", .result = kTimeout, .failures = 9, .reason = kWrongHost, .received = 0,
     .tls = "wrong-host"},
    {.scenario = "approve", .result = kTimeout, .failures = 9, .reason = kOldTls, .received = 0, .tls = "1.1"},
    {.scenario = "approve", .result = kOk, .tls = "pem"},
    // Refused from the transaction request on: its connection is closed unanswered.
    {.scenario = "refuse-first", .result = kTimeout, .failures = 9, .reason = kClosed, .received = 1},
    // The new connection for a second send is refused; spaced retries: nine refused connections
    // take eight spacings.
    {.scenario = "refuse", .result = kTimeout, .failures = 9, .reason = kRefused, .received = 2, .spacing = 0.25},
};

std::string rowName(const Row& row) {
  std::string name = std::string(row.scenario) + (row.wrongKey ? "_wrong_key" : "") +
                     (row.tls.empty() ? "" : "_tls_" + row.tls) + (row.spacing > 0 ? "_spaced" : "");
  std::replace_if(name.begin(), name.end(), [](char c) { return c == '-' || c == '.'; }, '_');
  return name;
}

void PrintTo(const Row& row, std::ostream* out) { *out << rowName(row); }

class FaultTable : public testing::TestWithParam<Row> {};

TEST_P(FaultTable, EndsOnceWithTheResultOfItsFault) {
  const Row& row = GetParam();
  const int filesBefore = openFiles();
  {
    const Kind kind = row.tls == "wrong-host" ? Kind::WrongHost : row.tls == "expired" ? Kind::Expired : Kind::Valid;
    LoopbackSimulator sim(row.speed, !row.tls.empty(), kind, row.tls == "1.1");
    if (row.tls == "pem") {
      std::ifstream file(sim.server.certificates()->caCertificate);
      ASSERT_TRUE(KOVCurlTransport::addTrustedCertificatesPem(std::string(std::istreambuf_iterator<char>(file), {})));
    } else if (!row.tls.empty()) {
      ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(sim.server.certificates()->caCertificate));
    }
    std::optional<LoopbackSimulator> other;
    if (row.tls == "cleared") {
      KOVQtTransport::clearTrustedCertificates();
      other.emplace(20, true);  // trusting another CA must not bring the forgotten one back
      ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(other->server.certificates()->caCertificate));
    }
    const std::string ref = "T-" + rowName(row);
    EngineRun run(sim.server.url(), ref, std::string("sim:") + row.scenario,
                  row.wrongKey ? "wrong-key" : kTestKey, row.spacing);
    const auto begun = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.finish(60000));
    EXPECT_GE(std::chrono::steady_clock::now() - begun, std::chrono::duration<double>(8 * row.spacing));
    const auto sent = static_cast<std::uint64_t>(run.sent());
    const std::uint64_t received = sim.received(ref);
    waitUntil([] { return false; }, 300);  // anything sent or received late would show now

    ASSERT_EQ(run.record->results.size(), 1u);
    EXPECT_EQ(run.record->results[0].transactionResult, row.result);
    EXPECT_FALSE(run.engine.isTransactionInProgress());
    EXPECT_EQ(static_cast<std::uint64_t>(run.sent()), sent) << "sent after the end";
    EXPECT_EQ(sim.received(ref), received) << "received after the end";
    EXPECT_EQ(received, row.received < 0 ? sent : static_cast<std::uint64_t>(row.received));
    // One kept-alive line for the whole transaction.
    EXPECT_EQ(row.failures == 0 ? sim.server.service().stats().connections() : 1u, 1u);
    // Each retry line follows an error entry, the first with the row's reason and code; nine
    // in a row end with the time-out result. The request after a failure waits as the row says.
    std::optional<std::string> firstFailure;
    int highest = 0;
    const auto& log = run.record->log;
    for (std::size_t i = 1; i < log.size(); ++i) {
      if (log[i].second.rfind("KOV Timeout. Starting attempt ", 0) != 0) continue;
      highest = std::max(highest, std::stoi(log[i].second.substr(30)));
      EXPECT_EQ(log[i - 1].first, KOVTransactionLogEntryError) << log[i].second;
      firstFailure = firstFailure.value_or(log[i - 1].second);
      const auto next = std::find_if(log.begin() + std::ptrdiff_t(i), log.end(), [](const auto& entry) {
        return entry.first == KOVTransactionLogEntryRequestContent;
      });
      if (next == log.end()) continue;
      const auto waited = run.record->logTimes[std::size_t(next - log.begin())] - run.record->logTimes[i - 1];
      EXPECT_GE(waited, std::chrono::duration<double>(row.waits)) << "the request after " << log[i - 1].second;
    }
    EXPECT_EQ(highest, row.failures);
    EXPECT_EQ(firstFailure.value_or(""), row.reason.logged("127.0.0.1:" + std::to_string(sim.server.port())));
    // The host is told that the transaction request can have reached the service exactly when
    // the service saw it (the reason's words and the retry lines are the engine's table).
    EXPECT_EQ(run.engine.lastOutcome().requestSent, received > 0);
    // Nothing the host was handed holds the key, nor anything a hostile answer smuggled in.
    const std::string reported = run.everythingReported();
    EXPECT_FALSE(holdsKey(reported));
    for (const char* smuggled : {"lollol", "root:x:", "\xff", "XXXXXXXX"})
      EXPECT_EQ(reported.find(smuggled), std::string::npos) << smuggled;
    const auto& shown = run.record->screens;
    EXPECT_TRUE(!*row.shown || std::find(shown.begin(), shown.end(), row.shown) != shown.end()) << row.shown;
    // A completed transaction lets its session go; after the time-out result the engine keeps
    // it, with its connections, until the next transaction or the host releases it.
    EXPECT_EQ(run.engine.hasSession(), row.result == kTimeout);
    // A session kept after it verifies with the trust of its day: with the CA trusted again, the
    // next transaction goes through on a new one.
    if (row.tls == "cleared") {
      ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(sim.server.certificates()->caCertificate));
      run.start(ref + "-AGAIN", "sim:approve", kTestKey);
      ASSERT_TRUE(run.finish(60000));
      EXPECT_EQ(run.record->results.back().transactionResult, kOk);
    }
    run.engine.releaseSession();
    EXPECT_FALSE(run.engine.hasSession());
    KOVQtTransport::clearTrustedCertificates();
  }
  EXPECT_EQ(openFiles(), filesBefore) << "left open";
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) { return rowName(info.param); });

}  // namespace
}  // namespace kovrel

// The tests run on the thread of a QCoreApplication, as hosts of the Qt layer do.
int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
