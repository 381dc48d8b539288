#pragma once
// kov-simulator's server in this process (127.0.0.1, a port the system picks), one transaction
// of the engine over the curl transport on either event loop, and bounded waits.
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "SimServer.h"

namespace kovrel {

/// The merchant key of these tests; its characters need escaping in XML, JSON and URLs.
inline constexpr const char* kTestKey = "k3y&<\"s%2F";

/// Runs the Qt event loop until done() holds or the deadline passes; true if done() held.
inline bool waitUntil(const std::function<bool()>& done, int deadlineMs = 10000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadlineMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

inline int openFiles() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<int>(std::distance(std::filesystem::begin(fds), std::filesystem::end(fds)));
}

/// True when text holds the key in any form: its first three characters need no escaping,
/// so every form of it (raw, escaped for XML, JSON or a URL) starts with them.
inline bool holdsKey(const std::string& text) { return text.find(std::string(kTestKey, 3)) != std::string::npos; }

/// A row's text as the transport words it here: "{server}" stands for authority, the server's
/// HOST:PORT, whose port is chosen at run time; "{tls}" for the TLS library curl names in its
/// reasons ("OpenSSL/3.0.19").
inline std::string expanded(std::string text, const std::string& authority) {
  const std::pair<std::string, std::string> fills[] = {{"{server}", authority},
                                                       {"{tls}", curl_version_info(CURLVERSION_NOW)->ssl_version}};
  for (const auto& [placeholder, value] : fills) {
    for (std::size_t at = text.find(placeholder); at != std::string::npos; at = text.find(placeholder, at)) {
      text.replace(at, placeholder.size(), value);
      at += value.size();
    }
  }
  return text;
}

class LoopbackSimulator {
 public:
  /// A clock at the given speed, a poll time-out of 1 s and the tests' key; with tls, a fresh
  /// test CA is written to a temporary folder.
  explicit LoopbackSimulator(double speed, bool tls = false,
                             kovsim::SimCertificateKind certificate = kovsim::SimCertificateKind::Valid,
                             bool oldTls = false) {
    kovsim::SimConfig config{.port = 0, .tls = tls, .certDir = _certDir.path().toStdString(),
                             .certificate = certificate, .oldTls = oldTls, .scenario = {}, .speed = speed,
                             .tmoSeconds = 1, .key = kTestKey, .stations = {}, .offline = {}};
    server = std::make_unique<kovsim::SimServer>(std::move(config), [this](const std::string& line) {
      const std::lock_guard<std::mutex> guard(_logLock);
      _log.push_back(line);
    });
    std::string error;
    EXPECT_TRUE(server->start(error)) << "the simulator did not start: " << error;
  }
  ~LoopbackSimulator() { server->stop(); }

  /// The server as the transport's errors name it.
  std::string authority() const { return "127.0.0.1:" + std::to_string(server->port()); }
  /// Requests of every type that reached the service for the TxnRef.
  std::uint64_t received(const std::string& txnRef) const {
    const kovsim::SimStats& stats = server->service().stats();
    return stats.count(txnRef, "Purchase") + stats.count(txnRef, "Status") + stats.count(txnRef, "UI");
  }
  std::vector<std::string> logLines() {
    const std::lock_guard<std::mutex> guard(_logLock);
    return _log;
  }

 private:
  QTemporaryDir _certDir;
  std::mutex _logLock;
  std::vector<std::string> _log;

 public:
  std::unique_ptr<kovsim::SimServer> server;
};

/// The event loop that drives the transport: Qt's (KOVQtTransport::install on WqKOV::get()),
/// or the library's own (KOVCurlTransport::install on an engine of its own, run by run()).
enum class Driver { Qt, Own };

/// A purchase of 12.50 AUD with debug logging on, on a station named after its TxnRef; the
/// signature is answered for the host.
class EngineRun {
 public:
  EngineRun(Driver driver, const std::string& url, const std::string& txnRef, const std::string& merchantRef,
            const std::string& key, double retrySpacing = 0) {
    auto details = std::make_shared<KOVTransactionDetails>();
    details->userName = "merchant";
    details->key = key;
    details->stationId = "ST-" + txnRef;
    details->amount = KOVDecimal::parse("12.50");
    details->currencyCode = "AUD";
    details->txnRef = txnRef;
    details->merchantRef = merchantRef;
    details->skipSignatureVerification = true;
    if (driver == Driver::Own) {
      _loop = std::make_shared<KOVPollLoop>();
      _own = std::make_unique<WqKOV>();
      KOVCurlTransport::install(*_own, _loop);
    } else {
      KOVQtTransport::install(WqKOV::get());
    }
    engine().setEndpointUrls(url, url);
    engine().setRetrySpacing(retrySpacing);
    engine().setPollFloor(0);  // polls at once, as the rows' counts and run times assume
    // The handlers share the record, since they may outlive a failed test.
    engine().startTransaction(
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

  /// Runs the loop until the result is delivered (the own loop: run() returns true, and at
  /// once a second time, with nothing in progress); false after the deadline.
  bool finish(int deadlineMs) {
    if (!_loop) return waitUntil([this] { return !record->results.empty(); }, deadlineMs);
    const auto guard = _loop->startTimer(std::chrono::milliseconds(deadlineMs), [this] { _loop->quit(); });
    const bool ran = _loop->run(*_own);
    _loop->cancelTimer(guard);
    return ran && !record->results.empty() && _loop->run(*_own);
  }
  void settle(int ms) {
    bool over = false;
    if (_loop) _loop->startTimer(std::chrono::milliseconds(ms), [&over] { over = true; });
    if (_loop) _loop->runUntil([&over] { return over; });
    if (!_loop) waitUntil([] { return false; }, ms);
  }
  WqKOV& engine() { return _own ? *_own : WqKOV::get(); }
  std::vector<std::string> logOf(KOVTransactionLogEntryType type) const {
    std::vector<std::string> out;
    for (const auto& [kind, entry] : record->log) {
      if (kind == type) out.push_back(entry);
    }
    return out;
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

 private:
  std::shared_ptr<KOVPollLoop> _loop;
  std::unique_ptr<WqKOV> _own;
};

}  // namespace kovrel
