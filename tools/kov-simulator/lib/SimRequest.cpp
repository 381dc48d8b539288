#include "SimRequest.h"

#include "SimXml.h"

namespace kovsim {
namespace {

std::string valueOf(const SimKeys& dict, const std::string& key) {
  const auto found = dict.find(key);
  return found == dict.end() ? std::string() : found->second;
}

bool hasScrRoot(const SimKeys& dict) {
  for (const auto& [key, value] : dict) {
    if (key == "Scr" || key.rfind("Scr/", 0) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<SimRequest> parseRequest(std::string_view body) {
  SimKeys dict;
  if (!parseXml(body, dict) || !hasScrRoot(dict)) {
    return std::nullopt;
  }
  SimRequest request;
  request.action = valueOf(dict, "Scr/__action");
  request.user = valueOf(dict, "Scr/__user");
  request.key = valueOf(dict, "Scr/__key");
  request.txnRef = valueOf(dict, "Scr/TxnRef");
  request.station = valueOf(dict, "Scr/Station");
  request.txnType = valueOf(dict, "Scr/TxnType");
  request.amount = valueOf(dict, "Scr/Amount");
  request.currency = valueOf(dict, "Scr/Cur");
  request.merchantRef = valueOf(dict, "Scr/MRef");
  request.uiType = valueOf(dict, "Scr/UiType");
  request.buttonName = valueOf(dict, "Scr/Name");
  request.buttonValue = valueOf(dict, "Scr/Val");
  return request;
}

}  // namespace kovsim
