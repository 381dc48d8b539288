// Transaction, status and button requests on the XML tree.
#include "core/KOVDocumentWriter.h"


#include <cinttypes>
#include <cstdio>

namespace {

constexpr const char* kTypeNames[] = {"Purchase", "Auth", "Complete", "Refund", "Void"};

}  // namespace

std::string KOVDocumentWriter::typeName(KOVTransactionType txnType) {
  return txnType <= KOVTransactionTypeVoid ? kTypeNames[txnType] : "";
}

std::optional<std::string> KOVDocumentWriter::amountText(const std::optional<KOVDecimal>& amount) {
  if (!amount) {
    return std::string("0.00");
  }
  const std::optional<int64_t> cents = amount->scaledToInt64(2);
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

std::shared_ptr<WqXMLDocument> KOVDocumentWriter::skeleton(const KOVTransactionDetails& details, bool maskKey) {
  auto document = WqXMLDocument::documentWithRootNode("Scr");
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  root->addAttribute("action", "doScrKOV");
  // A missing credential is written as the empty text: the service answers it with its
  // own response code instead of the library failing on a half-filled record.
  root->addAttribute("user", details.userName.value_or(""));
  root->addAttribute("key", maskKey ? std::string("......") : details.key.value_or(""));
  root->addChildNode("TxnRef", details.txnRef);
  return document;
}

std::optional<std::string> KOVDocumentWriter::transactionRequest(const KOVTransactionDetails& details,
                                                                 const std::optional<std::string>& typeName,
                                                                 bool maskKey) {
  std::optional<std::string> amount = amountText(details.amount);
  if (!amount) {
    return std::nullopt;
  }
  auto document = skeleton(details, maskKey);
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  if (details.qelTxnRef && !details.qelTxnRef->empty()) {
    root->addChildNode("QelTxnRef", details.qelTxnRef);
  }
  root->addChildNode("Station", details.stationId);
  root->addChildNode("Amount", std::move(amount));
  root->addChildNode("Cur", details.currencyCode);
  root->addChildNode("TxnType", typeName);
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

std::string KOVDocumentWriter::statusRequest(const KOVTransactionDetails& details, bool maskKey) {
  auto document = skeleton(details, maskKey);
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  root->addChildNode("Station", details.stationId);
  root->addChildNode("TxnType", std::string("Status"));
  return document->toString();
}

std::string KOVDocumentWriter::buttonRequest(const KOVTransactionDetails& details, const std::string& buttonName,
                                             const std::optional<std::string>& buttonValue, bool maskKey) {
  auto document = skeleton(details, maskKey);
  std::shared_ptr<WqXMLNode> root = document->getRootNode();
  root->addChildNode("Station", details.stationId);
  root->addChildNode("TxnType", std::string("UI"));
  root->addChildNode("UiType", std::string("Bn"));
  root->addChildNode("Name", buttonName);
  root->addChildNode("Val", buttonValue);
  return document->toString();
}
