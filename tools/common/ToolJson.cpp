#include "ToolJson.h"

#include <KOVModule/KOVResultJson.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <ctime>

namespace kovtools {
namespace {

using nlohmann::ordered_json;

ordered_json text(const std::optional<std::string>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

// Answers may hold bytes that are not UTF-8; they are written as U+FFFD rather than
// failing the whole line.
std::string dump(const ordered_json& j) { return j.dump(-1, ' ', false, ordered_json::error_handler_t::replace); }

}  // namespace

std::string resultJson(const KOVTransactionResultDetails& r, const KOVTransactionOutcome& outcome) {
  // The record's line as the journal keeps it, with the outcome's two fields after its last.
  std::string line = kov::ResultJson::toJson(r);
  line.pop_back();
  return line + ",\"reason\":" + dump(text(outcome.reason)) + ",\"requestSent\":" +
         (outcome.requestSent ? "true" : "false") + "}";
}

std::string pendingJson(const KOVJournalEntry& entry) {
  const std::time_t started = std::chrono::system_clock::to_time_t(entry.startedAt);
  std::tm parts{};
  gmtime_r(&started, &parts);
  char startedAt[32];
  std::strftime(startedAt, sizeof startedAt, "%Y-%m-%dT%H:%M:%SZ", &parts);
  ordered_json j;
  j["txnRef"] = entry.txnRef;
  j["type"] = text(entry.txnType);
  j["stage"] = kov::journalStageName(entry.stage);
  j["station"] = text(entry.stationId);
  j["amount"] = text(entry.amount);
  j["currency"] = text(entry.currencyCode);
  j["user"] = text(entry.userName);
  j["merchantRef"] = text(entry.merchantRef);
  j["startedAt"] = startedAt;
  j["result"] = entry.result ? ordered_json(static_cast<uint32_t>(entry.result->transactionResult)) : nullptr;
  j["requestSent"] = entry.requestSent;
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

}  // namespace kovtools
