// The result record's JSON line, written and read back field by field.
#include <KOVModule/KOVResultJson.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <utility>

namespace {

using nlohmann::ordered_json;
using TextField = std::optional<std::string> KOVTransactionResultDetails::*;

struct NamedText {
  const char* name;
  TextField field;
};

// In the order of the line, before receiptLineWidth and response ...
const std::array<NamedText, 14> kTextsBefore{{
    {"authCode", &KOVTransactionResultDetails::authCode},
    {"maskedCardNumber", &KOVTransactionResultDetails::maskedCardNumber},
    {"cardName", &KOVTransactionResultDetails::cardName},
    {"expectedSettlementDate", &KOVTransactionResultDetails::expectedSettlementDate},
    {"expectedSettlementDateTimeZone", &KOVTransactionResultDetails::expectedSettlementDateTimeZone},
    {"transactionDate", &KOVTransactionResultDetails::transactionDate},
    {"transactionDateTimeZone", &KOVTransactionResultDetails::transactionDateTimeZone},
    {"PIX", &KOVTransactionResultDetails::PIX},
    {"RID", &KOVTransactionResultDetails::RID},
    {"retrievalRefNumber", &KOVTransactionResultDetails::retrievalRefNumber},
    {"qelTxnRef", &KOVTransactionResultDetails::qelTxnRef},
    {"responseText", &KOVTransactionResultDetails::responseText},
    {"reCo", &KOVTransactionResultDetails::reCo},
    {"receipt", &KOVTransactionResultDetails::receipt},
}};
// ... and after them.
const std::array<NamedText, 2> kTextsAfter{{
    {"cardNumber2", &KOVTransactionResultDetails::cardNumber2},
    {"qelBillingId", &KOVTransactionResultDetails::qelBillingId},
}};

ordered_json text(const std::optional<std::string>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

bool readText(const ordered_json& line, const NamedText& entry, KOVTransactionResultDetails& record) {
  const auto found = line.find(entry.name);
  if (found == line.end() || !(found->is_null() || found->is_string())) {
    return false;
  }
  record.*entry.field = found->is_null() ? std::nullopt : std::optional(found->get<std::string>());
  return true;
}

}  // namespace

std::string KOVResultJson::toJson(const KOVTransactionResultDetails& result) {
  ordered_json line;
  line["transactionResult"] = static_cast<uint32_t>(result.transactionResult);
  for (const NamedText& entry : kTextsBefore) {
    line[entry.name] = text(result.*entry.field);
  }
  line["receiptLineWidth"] = result.receiptLineWidth;
  if (result.response) {
    ordered_json response = ordered_json::object();
    for (const auto& [key, value] : *result.response) {
      response[key] = value;
    }
    line["response"] = std::move(response);
  } else {
    line["response"] = nullptr;
  }
  for (const NamedText& entry : kTextsAfter) {
    line[entry.name] = text(result.*entry.field);
  }
  // Answers may hold bytes that are not UTF-8; they are written as U+FFFD rather than
  // failing the whole line.
  return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::optional<KOVTransactionResultDetails> KOVResultJson::fromJson(std::string_view json) {
  const ordered_json line = ordered_json::parse(json, nullptr, false);
  if (!line.is_object() || !line.contains("transactionResult") || !line["transactionResult"].is_number_unsigned() ||
      !line.contains("receiptLineWidth") || !line["receiptLineWidth"].is_number_integer() ||
      !line.contains("response")) {
    return std::nullopt;
  }
  KOVTransactionResultDetails record;
  record.transactionResult = static_cast<KOVTransactionResult>(line["transactionResult"].get<uint32_t>());
  record.receiptLineWidth = line["receiptLineWidth"].get<int32_t>();
  const auto readAll = [&](const auto& texts) {
    return std::all_of(texts.begin(), texts.end(), [&](const NamedText& entry) { return readText(line, entry, record); });
  };
  if (!readAll(kTextsBefore) || !readAll(kTextsAfter)) {
    return std::nullopt;
  }
  const ordered_json& response = line["response"];
  if (response.is_object()) {
    auto dictionary = std::make_shared<NSStringDictionary>();
    for (const auto& [key, value] : response.items()) {
      if (!value.is_string()) {
        return std::nullopt;
      }
      dictionary->emplace(key, value.get<std::string>());
    }
    record.response = std::move(dictionary);
  } else if (!response.is_null()) {
    return std::nullopt;
  }
  return record;
}
