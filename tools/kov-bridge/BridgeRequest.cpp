#include "BridgeRequest.h"

#include <KOVModule/KOVDecimal.h>

#include <nlohmann/json.hpp>

#include <array>
#include <map>
#include <set>
#include <vector>

namespace kovbridge {
namespace {

using nlohmann::json;

using TextField = std::optional<std::string> KOVTransactionDetails::*;

// The record's texts under kov-cli's option names, written as JSON keys.
const std::array<std::pair<std::string_view, TextField>, 10> kTextFields{{
    {"txnRef", &KOVTransactionDetails::txnRef},
    {"currency", &KOVTransactionDetails::currencyCode},
    {"qelTxnRef", &KOVTransactionDetails::qelTxnRef},
    {"deviceId", &KOVTransactionDetails::deviceId},
    {"posName", &KOVTransactionDetails::posName},
    {"posVersion", &KOVTransactionDetails::posVersion},
    {"vendorId", &KOVTransactionDetails::vendorId},
    {"merchantRef", &KOVTransactionDetails::merchantRef},
    {"urlSuccess", &KOVTransactionDetails::urlSuccess},
    {"urlFail", &KOVTransactionDetails::urlFail},
}};

const std::array<std::pair<std::string_view, KOVTransactionType>, 5> kTypes{{
    {"purchase", KOVTransactionTypePurchase},
    {"auth", KOVTransactionTypeAuth},
    {"complete", KOVTransactionTypeComplete},
    {"refund", KOVTransactionTypeRefund},
    {"void", KOVTransactionTypeVoid},
}};

enum class Kind { Text, Flag };

// Thrown from the parser's callback, which can only stop the parse by throwing.
struct Twice {
  std::string key;
};

// The body's object, every field known and of its kind, or why not.
std::variant<json, BridgeBodyError> object(std::string_view body, const std::map<std::string_view, Kind>& fields) {
  std::vector<std::set<std::string>> seen;
  json parsed;
  try {
    parsed = json::parse(body, [&seen](int, json::parse_event_t event, json& value) {
      if (event == json::parse_event_t::object_start) seen.emplace_back();
      if (event == json::parse_event_t::object_end) seen.pop_back();
      // nlohmann keeps the last of two equal keys; a body that says two things is refused.
      if (event == json::parse_event_t::key && !seen.back().insert(value.get<std::string>()).second) {
        throw Twice{value.get<std::string>()};
      }
      return true;
    });
  } catch (const Twice& twice) {
    return BridgeBodyError{"field \"" + twice.key + "\" is given twice"};
  } catch (const json::exception&) {
    // The parser's own message quotes the body, which is not repeated.
    return BridgeBodyError{"the body is not valid JSON"};
  }
  if (!parsed.is_object()) return BridgeBodyError{"the body is not a JSON object"};
  for (const auto& [key, value] : parsed.items()) {
    const auto field = fields.find(key);
    if (field == fields.end()) return BridgeBodyError{"unknown field \"" + key + "\""};
    if (field->second == Kind::Text && !value.is_string()) {
      return BridgeBodyError{"field \"" + key + "\" must be a string"};
    }
    if (field->second == Kind::Flag && !value.is_boolean()) {
      return BridgeBodyError{"field \"" + key + "\" must be true or false"};
    }
  }
  return parsed;
}

}  // namespace

std::variant<BridgeStart, BridgeBodyError> parseStart(std::string_view body) {
  std::map<std::string_view, Kind> fields{{"type", Kind::Text}, {"amount", Kind::Text}, {"skipSignature", Kind::Flag}};
  for (const auto& [name, member] : kTextFields) fields.emplace(name, Kind::Text);
  auto read = object(body, fields);
  if (auto* error = std::get_if<BridgeBodyError>(&read)) return *error;
  const json& j = std::get<json>(read);
  BridgeStart start;
  if (!j.contains("type")) return BridgeBodyError{"missing field \"type\""};
  const std::string type = j["type"].get<std::string>();
  const auto known = std::find_if(kTypes.begin(), kTypes.end(), [&type](const auto& t) { return t.first == type; });
  if (known == kTypes.end()) {
    return BridgeBodyError{"unknown type \"" + type + "\" (purchase, auth, complete, refund or void)"};
  }
  start.type = known->second;
  if (!j.contains("txnRef")) return BridgeBodyError{"missing field \"txnRef\""};
  for (const auto& [name, member] : kTextFields) {
    if (j.contains(name)) start.details.*member = j[std::string(name)].get<std::string>();
  }
  if (j.contains("amount")) {
    const std::string amount = j["amount"].get<std::string>();
    start.details.amount = KOVDecimal::parse(amount);
    if (!start.details.amount) {
      return BridgeBodyError{"amount must be a plain decimal number such as \"12.50\", not \"" + amount + "\""};
    }
  }
  start.details.skipSignatureVerification = j.value("skipSignature", false);
  return start;
}

std::variant<std::string, BridgeBodyError> parseButton(std::string_view body) {
  auto read = object(body, {{"button", Kind::Text}});
  if (auto* error = std::get_if<BridgeBodyError>(&read)) return *error;
  const json& j = std::get<json>(read);
  const std::string button = j.value("button", "");
  if (button != "B1" && button != "B2") return BridgeBodyError{"button must be \"B1\" or \"B2\""};
  return button;
}

std::variant<BridgeRecoverBody, BridgeBodyError> parseRecover(std::string_view body) {
  BridgeRecoverBody recover;
  if (body.empty()) return recover;
  auto read = object(body, {{"txnRef", Kind::Text}, {"skipSignature", Kind::Flag}});
  if (auto* error = std::get_if<BridgeBodyError>(&read)) return *error;
  const json& j = std::get<json>(read);
  if (j.contains("txnRef")) recover.txnRef = j["txnRef"].get<std::string>();
  recover.skipSignature = j.value("skipSignature", false);
  return recover;
}

}  // namespace kovbridge
