#include "SimScenario.h"

#include <array>
#include <utility>

namespace kovsim {
namespace {

constexpr std::array<std::pair<SimScenario, std::string_view>, 10> kNames{{
    {SimScenario::Approve, "approve"},
    {SimScenario::Decline, "decline"},
    {SimScenario::Cancel, "cancel"},
    {SimScenario::Signature, "signature"},
    {SimScenario::Drop, "drop"},
    {SimScenario::Stall, "stall"},
    {SimScenario::Http500, "http500"},
    {SimScenario::Garbage, "garbage"},
    {SimScenario::Empty, "empty"},
    {SimScenario::ResultComplete, "result-complete"},
}};

constexpr std::string_view kMerchantRefPrefix = "sim:";

}  // namespace

std::string_view scenarioName(SimScenario scenario) {
  for (const auto& [value, name] : kNames) {
    if (value == scenario) {
      return name;
    }
  }
  return "approve";
}

std::optional<SimScenario> scenarioFromName(std::string_view name) {
  for (const auto& [value, text] : kNames) {
    if (text == name) {
      return value;
    }
  }
  return std::nullopt;
}

std::string scenarioNames() {
  std::string names;
  for (const auto& [value, name] : kNames) {
    if (!names.empty()) {
      names += ", ";
    }
    names += name;
  }
  return names;
}

std::optional<SimScenario> scenarioFromMerchantRef(std::string_view merchantRef, bool& unknownName) {
  unknownName = false;
  if (merchantRef.substr(0, kMerchantRefPrefix.size()) != kMerchantRefPrefix) {
    return std::nullopt;
  }
  std::optional<SimScenario> scenario = scenarioFromName(merchantRef.substr(kMerchantRefPrefix.size()));
  unknownName = !scenario;
  return scenario;
}

}  // namespace kovsim
