// The three documents the engine sends: transaction, status and button requests.
#include <KOVModule/WqKOV.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr const char* kTypeNames[] = {"Purchase", "Auth", "Complete", "Refund", "Void"};

bool isKnownType(KOVTransactionType txnType) { return txnType <= KOVTransactionTypeVoid; }

// The builders read a missing record as an empty one.
const KOVTransactionDetails& detailsOf(const std::shared_ptr<KOVTransactionDetails>& details) {
  static const KOVTransactionDetails kNoDetails;
  return details ? *details : kNoDetails;
}

}  // namespace

std::string WqKOV::txnTypeToStr(KOVTransactionType txnType) {
  return isKnownType(txnType) ? kTypeNames[txnType] : "";
}

std::string WqKOV::transactionTypeToStr() const {
  return isKnownType(_currentTxnType) ? kTypeNames[_currentTxnType] : "Error";
}

std::shared_ptr<WqXMLDocument> WqKOV::createTxnDocument() const {
  const KOVTransactionDetails& details = detailsOf(_currentTxnDetails);
  auto document = WqXMLDocument::documentWithRootNode("Scr");
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  root->addAttribute("action", "doScrKOV");
  // A missing credential is written as the empty text: the service answers it with its
  // own response code instead of the library failing on a half-filled record.
  root->addAttribute("user", details.userName.value_or(""));
  root->addAttribute("key", details.key.value_or(""));
  root->addChildNode("TxnRef", details.txnRef);
  return document;
}

std::optional<std::string> WqKOV::decimalToString(const std::optional<KOVDecimal>& decimalValue) {
  if (!decimalValue) {
    return std::string("0.00");
  }
  const std::optional<int64_t> cents = decimalValue->scaledToInt64(2);
  if (!cents) {
    return std::nullopt;
  }
  // One leading minus sign and two positive fraction digits, also for negative amounts.
  const bool negative = *cents < 0;
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(*cents) : static_cast<uint64_t>(*cents);
  char text[32];
  std::snprintf(text, sizeof text, "%s%" PRIu64 ".%02" PRIu64, negative ? "-" : "", magnitude / 100,
                magnitude % 100);
  return std::string(text);
}

std::optional<std::string> WqKOV::generateRequest() const {
  const KOVTransactionDetails& details = detailsOf(_currentTxnDetails);
  std::optional<std::string> amount = decimalToString(details.amount);
  if (!amount) {
    return std::nullopt;
  }
  auto document = createTxnDocument();
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  if (details.qelTxnRef && !details.qelTxnRef->empty()) {
    root->addChildNode("QelTxnRef", details.qelTxnRef);
  }
  root->addChildNode("Station", details.stationId);
  root->addChildNode("Amount", std::move(amount));
  root->addChildNode("Cur", details.currencyCode);
  root->addChildNode("TxnType", _currentTxnTypeStr);
  root->addChildNode("DeviceId", details.deviceId);
  root->addChildNode("PosName", details.posName);
  root->addChildNode("PosVersion", details.posVersion);
  root->addChildNode("VendorId", details.vendorId);
  root->addChildNode("MRef", details.merchantRef);
  if (details.urlSuccess) {
    root->addChildNode("UrlSuccess", details.urlSuccess);
  }
  if (details.urlFail) {
    root->addChildNode("UrlFail", details.urlFail);
  }
  return document->toString();
}

std::string WqKOV::generateStatusRequest() const {
  auto document = createTxnDocument();
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  root->addChildNode("Station", detailsOf(_currentTxnDetails).stationId);
  root->addChildNode("TxnType", std::string("Status"));
  return document->toString();
}

std::string WqKOV::generateButtonRequest(const std::string& buttonName,
                                         const std::optional<std::string>& buttonValue) const {
  auto document = createTxnDocument();
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  root->addChildNode("Station", detailsOf(_currentTxnDetails).stationId);
  root->addChildNode("TxnType", std::string("UI"));
  root->addChildNode("UiType", std::string("Bn"));
  root->addChildNode("Name", buttonName);
  root->addChildNode("Val", buttonValue);
  return document->toString();
}
