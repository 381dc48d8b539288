#include "EngineRun.h"

#include <KOVModule/KOVQtTransport.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cctype>

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

std::string findKey(const std::string& text) {
  const std::string key = kTestKey;
  std::string xmlEscaped, urlEncoded, jsonEscaped;
  static const char* hex = "0123456789ABCDEF";
  for (char c : key) {
    switch (c) {
      case '&': xmlEscaped += "&amp;"; break;
      case '<': xmlEscaped += "&lt;"; break;
      case '"': xmlEscaped += "&quot;"; break;
      default: xmlEscaped += c;
    }
    if (std::isalnum(static_cast<unsigned char>(c))) {
      urlEncoded += c;
    } else {
      urlEncoded += '%';
      urlEncoded += hex[static_cast<unsigned char>(c) >> 4];
      urlEncoded += hex[static_cast<unsigned char>(c) & 15];
    }
    if (c == '"' || c == '\\') {
      jsonEscaped += '\\';
    }
    jsonEscaped += c;
  }
  for (const std::string& form : {key, xmlEscaped, urlEncoded, jsonEscaped, key.substr(0, 3)}) {
    if (text.find(form) != std::string::npos) {
      return form;
    }
  }
  return {};
}

}  // namespace kovrel
