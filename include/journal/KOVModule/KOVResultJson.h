#pragma once
#include <KOVModule/KOVExport.h>
#include <KOVModule/KOVTransactionResultDetails.h>

#include <optional>
#include <string>
#include <string_view>

namespace kov {

/// The result record as one line of JSON, every field under its own name, texts as strings
/// or null (bytes that are not UTF-8 written as U+FFFD): the form kov-cli prints and the
/// journal keeps.
class KOV_JOURNAL_EXPORT ResultJson {
 public:
  ResultJson() = delete;
  static std::string toJson(const KOVTransactionResultDetails& result);
  /// The record of such a line; nullopt for text that is not one.
  static std::optional<KOVTransactionResultDetails> fromJson(std::string_view json);
};

}  // namespace kov
