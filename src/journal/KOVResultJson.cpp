// The result record's JSON line, written and read back field by field.
#include <KOVModule/KOVResultJson.h>

#include <nlohmann/json.hpp>

#include "core/KOVResultText.h"

#include <algorithm>
#include <utility>

namespace {

using nlohmann::ordered_json;
ordered_json text(const std::optional<std::string>& value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

bool readText(const ordered_json& line, const KOVResultText& entry, KOVTransactionResultDetails& record) {
  const auto found = line.find(std::string(entry.name));
  if (found == line.end() || !(found->is_null() || found->is_string())) {
    return false;
  }
  record.*entry.field = found->is_null() ? std::nullopt : std::optional(found->get<std::string>());
  return true;
}

}  // namespace

std::string kov::ResultJson::toJson(const KOVTransactionResultDetails& result) {
  ordered_json line;
  line["transactionResult"] = static_cast<uint32_t>(result.transactionResult);
  for (const KOVResultText& entry : kKOVResultTexts) {
    line[std::string(entry.name)] = text(result.*entry.field);
    // The record's order: its width and the whole answer follow the receipt.
    if (entry.field == &KOVTransactionResultDetails::receipt) {
      line["receiptLineWidth"] = result.receiptLineWidth;
      line["response"] = result.response ? ordered_json(*result.response) : ordered_json(nullptr);
    }
  }
  // Answers may hold bytes that are not UTF-8; they are written as U+FFFD rather than
  // failing the whole line.
  return line.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

std::optional<KOVTransactionResultDetails> kov::ResultJson::fromJson(std::string_view json) {
  const ordered_json line = ordered_json::parse(json, nullptr, false);
  if (!line.is_object() || !line.contains("transactionResult") || !line["transactionResult"].is_number_unsigned() ||
      !line.contains("receiptLineWidth") || !line["receiptLineWidth"].is_number_integer() ||
      !line.contains("response")) {
    return std::nullopt;
  }
  KOVTransactionResultDetails record;
  record.transactionResult = static_cast<KOVTransactionResult>(line["transactionResult"].get<uint32_t>());
  record.receiptLineWidth = line["receiptLineWidth"].get<int32_t>();
  if (!std::all_of(kKOVResultTexts.begin(), kKOVResultTexts.end(),
                   [&](const KOVResultText& entry) { return readText(line, entry, record); })) {
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
