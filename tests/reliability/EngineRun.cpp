#include "EngineRun.h"

#include <KOVModule/KOVQtTransport.h>

#include <cctype>

#include "QtTestSupport.h"
#include "SampleDetails.h"

namespace kovrel {

std::shared_ptr<KOVTransactionDetails> purchaseDetails(const std::string& txnRef, const std::string& merchantRef,
                                                       bool skipSignature) {
  auto details = kovtest::sampleDetails();
  details->key = kTestKey;
  details->stationId = "ST-" + txnRef;
  details->txnRef = txnRef;
  details->merchantRef = merchantRef;
  details->skipSignatureVerification = skipSignature;
  return details;
}

EngineRun::EngineRun(const std::string& url) : engine_(std::make_unique<WqKOV>()) {
  KOVQtTransport::install(*engine_);
  engine_->setEndpointUrls(url, url);
}

EngineRun::~EngineRun() {
  engine_->releaseSession();
  kovtest::settle(20);  // lets cancelled requests complete before the engine goes
}

void EngineRun::start(const std::string& txnRef, const std::string& merchantRef, bool skipSignature) {
  engine_->startTransaction(
      purchaseDetails(txnRef, merchantRef, skipSignature), KOVTransactionTypePurchase, true, true,
      [this](KOVTransactionLogEntryType type, const std::string& entry) { log_.emplace_back(type, entry); },
      [this](KOVState state, const std::optional<std::string>&, const std::string& first, const std::string& second,
             const std::optional<std::string>&, const std::optional<std::string>&) {
        screens_.push_back(Screen{state, first, second});
      },
      [this](KOVTransactionResultDetails result) { results_.push_back(std::move(result)); }, nullptr);
}

bool EngineRun::waitForResult(int deadlineMs) {
  return kovtest::waitUntil([this] { return !results_.empty(); }, deadlineMs);
}

void EngineRun::settleAfterResult() { kovtest::settle(300); }

std::vector<std::string> EngineRun::logOf(KOVTransactionLogEntryType type) const {
  std::vector<std::string> out;
  for (const auto& [kind, entry] : log_) {
    if (kind == type) out.push_back(entry);
  }
  return out;
}

std::string EngineRun::everythingReported() const {
  std::string all;
  for (const auto& [kind, entry] : log_) all += entry + "\n";
  for (const Screen& screen : screens_) all += screen.firstLine + "\n" + screen.secondLine + "\n";
  for (const auto& result : results_) {
    if (result.response) {
      for (const auto& [key, value] : *result.response) all += key + "=" + value + "\n";
    }
    if (result.receipt) all += *result.receipt;
  }
  return all;
}

std::string findKey(const std::string& text, const std::string& key) {
  std::string xmlEscaped, urlEncoded, jsonEscaped;
  static const char* hex = "0123456789ABCDEF";
  for (char c : key) {
    switch (c) {
      case '&': xmlEscaped += "&amp;"; break;
      case '<': xmlEscaped += "&lt;"; break;
      case '>': xmlEscaped += "&gt;"; break;
      case '"': xmlEscaped += "&quot;"; break;
      case '\'': xmlEscaped += "&#39;"; break;
      default: xmlEscaped += c;
    }
    if (std::isalnum(static_cast<unsigned char>(c))) {
      urlEncoded += c;
    } else {
      urlEncoded += '%';
      urlEncoded += hex[static_cast<unsigned char>(c) >> 4];
      urlEncoded += hex[static_cast<unsigned char>(c) & 15];
    }
    if (c == '"' || c == '\\') jsonEscaped += '\\';
    jsonEscaped += c;
  }
  // Also the key's longest plain run, in case it is cut by an escape of its own.
  for (const std::string& form : {key, xmlEscaped, urlEncoded, jsonEscaped, std::string("k3y")}) {
    if (text.find(form) != std::string::npos) return form;
  }
  return {};
}

}  // namespace kovrel
