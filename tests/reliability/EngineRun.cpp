#include "EngineRun.h"

#include <KOVModule/KOVQtTransport.h>

#include <QCoreApplication>
#include <QElapsedTimer>

namespace kovrel {

bool waitUntil(const std::function<bool()>& done, int deadlineMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > deadlineMs) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

void settle(int ms) { waitUntil([] { return false; }, ms); }

EngineRun::EngineRun(const std::string& url, const std::string& txnRef, const std::string& merchantRef,
                     const std::string& key) {
  auto details = std::make_shared<KOVTransactionDetails>();
  details->userName = "merchant";
  details->key = key;
  details->stationId = "ST-" + txnRef;
  details->amount = KOVDecimal::parse("12.50");
  details->currencyCode = "AUD";
  details->txnRef = txnRef;
  details->merchantRef = merchantRef;
  details->skipSignatureVerification = true;
  WqKOV& engine = WqKOV::get();
  KOVQtTransport::install(engine);
  engine.setEndpointUrls(url, url);
  engine.startTransaction(
      details, KOVTransactionTypePurchase, true, true,
      [record = _record](KOVTransactionLogEntryType type, const std::string& entry) {
        record->log.emplace_back(type, entry);
      },
      [record = _record](KOVState, const std::optional<std::string>&, const std::string& first,
                         const std::string& second, const std::optional<std::string>&,
                         const std::optional<std::string>&) { record->screens.push_back(first + "|" + second); },
      [record = _record](KOVTransactionResultDetails result) { record->results.push_back(std::move(result)); },
      nullptr);
}

bool EngineRun::waitForResult(int deadlineMs) {
  return waitUntil([this] { return !_record->results.empty(); }, deadlineMs);
}

std::vector<std::string> EngineRun::logOf(KOVTransactionLogEntryType type) const {
  std::vector<std::string> out;
  for (const auto& [kind, entry] : _record->log) {
    if (kind == type) {
      out.push_back(entry);
    }
  }
  return out;
}

std::string EngineRun::everythingReported() const {
  std::string all;
  for (const auto& [kind, entry] : _record->log) {
    all += entry + "\n";
  }
  for (const std::string& screen : _record->screens) {
    all += screen + "\n";
  }
  for (const auto& result : _record->results) {
    if (result.response) {
      for (const auto& [key, value] : *result.response) {
        all += key + "=" + value + "\n";
      }
    }
  }
  return all;
}

bool holdsKey(const std::string& text) {
  // The key's first three characters need no escaping, so every form of it starts with them.
  return text.find(std::string(kTestKey).substr(0, 3)) != std::string::npos;
}

}  // namespace kovrel
