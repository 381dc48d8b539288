#include "SimScenario.h"

#include <array>
#include <charconv>
#include <utility>

namespace kovsim {
namespace {

constexpr std::array<std::pair<SimTerminal, std::string_view>, 6> kTerminals{{
    {SimTerminal::Approve, "approve"},
    {SimTerminal::Decline, "decline"},
    {SimTerminal::Cancel, "cancel"},
    {SimTerminal::LateCancel, "late-cancel"},
    {SimTerminal::Signature, "signature"},
    {SimTerminal::ResultComplete, "result-complete"},
}};

constexpr std::array<std::pair<SimFault, std::string_view>, 30> kFaults{{
    {SimFault::Close, "close"},         {SimFault::Reset, "reset"},       {SimFault::ResetBody, "reset-body"},
    {SimFault::Cut, "cut"},             {SimFault::Stall, "stall"},       {SimFault::Trickle, "trickle"},
    {SimFault::Refuse, "refuse"},       {SimFault::Http404, "http404"},   {SimFault::Http502, "http502"},
    {SimFault::Http307, "http307"},     {SimFault::Http301, "http301"},   {SimFault::Http302, "http302"},
    {SimFault::Http204, "http204"},     {SimFault::Maintenance, "maintenance"},
    {SimFault::Oversize, "oversize"},
    {SimFault::OversizeLength, "oversize-length"},                        {SimFault::OversizeOpen, "oversize-open"},
    {SimFault::Http2Only, "http2-only"},                                  {SimFault::HugeHeader, "huge-header"},
    {SimFault::DoubleLength, "double-length"},                            {SimFault::Http503, "http503"},
    {SimFault::Http500, "http500"},     {SimFault::Garbage, "garbage"},   {SimFault::Truncated, "truncated"},
    {SimFault::Empty, "empty"},         {SimFault::BadUtf8, "bad-utf8"},  {SimFault::Deep, "deep"},
    {SimFault::Doctype, "doctype"},     {SimFault::OddTmo, "odd-tmo"},    {SimFault::AtCap, "at-cap"},
}};

// The older name of close-first, which hosts' scripts may still use.
constexpr std::string_view kDropName = "drop";
constexpr std::string_view kFirstSuffix = "-first";
constexpr std::string_view kMerchantRefPrefix = "sim:";

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() > tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

bool SimScenario::hits(std::uint64_t n) const {
  const std::uint64_t start = fromFirstRequest ? 0 : 1;
  if (fault == SimFault::None || n < start) {
    return false;
  }
  const auto period = static_cast<std::uint64_t>(run) + 1;
  return run == 0 || (n - start) % period < static_cast<std::uint64_t>(run);
}

bool isFailure(SimFault fault) { return fault != SimFault::None && fault < SimFault::Http500; }

std::string_view faultName(SimFault fault) {
  for (const auto& [value, name] : kFaults) {
    if (value == fault) {
      return name;
    }
  }
  return "none";
}

std::string scenarioName(const SimScenario& scenario) {
  if (scenario.fault == SimFault::None) {
    for (const auto& [value, name] : kTerminals) {
      if (value == scenario.terminal) {
        return std::string(name);
      }
    }
  }
  std::string name(faultName(scenario.fault));
  if (scenario.fromFirstRequest) {
    name += kFirstSuffix;
  }
  if (scenario.run > 0) {
    name += "-" + std::to_string(scenario.run);
  }
  return name;
}

std::optional<SimScenario> scenarioFromName(std::string_view name) {
  for (const auto& [value, text] : kTerminals) {
    if (text == name) {
      return SimScenario{value};
    }
  }
  if (name == kDropName) {
    return SimScenario{SimTerminal::Approve, SimFault::Close, true};
  }
  SimScenario scenario;
  const std::size_t dash = name.rfind('-');
  if (dash != std::string_view::npos) {
    int run = 0;
    const std::string_view digits = name.substr(dash + 1);
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), run);
    if (!digits.empty() && error == std::errc() && end == digits.data() + digits.size()) {
      if (run < 1 || run > kMaxFaultRun || digits.front() == '0') {
        return std::nullopt;
      }
      scenario.run = run;
      name = name.substr(0, dash);
    }
  }
  if (endsWith(name, kFirstSuffix)) {
    scenario.fromFirstRequest = true;
    name = name.substr(0, name.size() - kFirstSuffix.size());
  }
  for (const auto& [value, text] : kFaults) {
    if (text == name) {
      scenario.fault = value;
    }
  }
  // A simulator that stopped listening never serves again, so refuse cannot repeat.
  if (scenario.fault == SimFault::None || (scenario.fault == SimFault::Refuse && scenario.run > 0)) {
    return std::nullopt;
  }
  return scenario;
}

std::string scenarioNames() {
  std::string names;
  for (const auto& [value, name] : kTerminals) {
    names += std::string(name) + ", ";
  }
  names += std::string(kDropName) + "; or a fault NAME[-first][-N] with NAME one of: ";
  for (const auto& [value, name] : kFaults) {
    names += std::string(name) + (value == kFaults.back().first ? "" : ", ");
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
