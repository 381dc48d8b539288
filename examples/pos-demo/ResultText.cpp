#include "ResultText.h"

#include <array>

std::string resultName(KOVTransactionResult result) {
  static constexpr std::array<const char*, 11> kNames{
      "Succeeded",        "Failed",          "Invalid transaction type", "User or key not matched",
      "Station prefix error", "Existing request in progress", "Transmit error", "Session init error",
      "User ID not matched",  "Terminal not connected",       "Timeout"};
  const auto index = static_cast<std::size_t>(result);
  return index < kNames.size() ? kNames[index] : "Result " + std::to_string(index);
}
