#include "CliJson.h"

#include <nlohmann/json.hpp>

namespace kovcli {
namespace {

using nlohmann::ordered_json;

ordered_json text(const std::optional<std::string>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

// Answers may hold bytes that are not UTF-8; they are written as U+FFFD rather than
// failing the whole line.
std::string dump(const ordered_json& j) { return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace); }

}  // namespace

std::string resultJson(const KOVTransactionResultDetails& r) {
  ordered_json j;
  j["transactionResult"] = static_cast<uint32_t>(r.transactionResult);
  j["authCode"] = text(r.authCode);
  j["maskedCardNumber"] = text(r.maskedCardNumber);
  j["cardName"] = text(r.cardName);
  j["expectedSettlementDate"] = text(r.expectedSettlementDate);
  j["expectedSettlementDateTimeZone"] = text(r.expectedSettlementDateTimeZone);
  j["transactionDate"] = text(r.transactionDate);
  j["transactionDateTimeZone"] = text(r.transactionDateTimeZone);
  j["PIX"] = text(r.PIX);
  j["RID"] = text(r.RID);
  j["retrievalRefNumber"] = text(r.retrievalRefNumber);
  j["qelTxnRef"] = text(r.qelTxnRef);
  j["responseText"] = text(r.responseText);
  j["reCo"] = text(r.reCo);
  j["receipt"] = text(r.receipt);
  j["receiptLineWidth"] = r.receiptLineWidth;
  if (r.response) {
    ordered_json response = ordered_json::object();
    for (const auto& [key, value] : *r.response) response[key] = value;
    j["response"] = std::move(response);
  } else {
    j["response"] = nullptr;
  }
  j["cardNumber2"] = text(r.cardNumber2);
  j["qelBillingId"] = text(r.qelBillingId);
  return dump(j);
}

std::string statusJson(KOVState state, const std::optional<std::string>& receipt, const std::string& firstLine,
                       const std::string& secondLine, const std::optional<std::string>& button1,
                       const std::optional<std::string>& button2) {
  ordered_json j;
  j["state"] = static_cast<uint32_t>(state);
  j["firstLine"] = firstLine;
  j["secondLine"] = secondLine;
  j["button1"] = text(button1);
  j["button2"] = text(button2);
  j["receipt"] = text(receipt);
  return dump(j);
}

std::string signatureReceiptJson(const std::optional<std::string>& receipt) {
  ordered_json j;
  j["signatureReceipt"] = text(receipt);
  return dump(j);
}

std::string logJson(KOVTransactionLogEntryType type, const std::string& entry) {
  ordered_json j;
  j["log"] = static_cast<uint32_t>(type);
  j["entry"] = entry;
  return dump(j);
}

}  // namespace kovcli
