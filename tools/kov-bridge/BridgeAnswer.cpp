#include "BridgeAnswer.h"

#include <nlohmann/json.hpp>

#include "BridgeRouter.h"

namespace kovbridge {
namespace {

// A reference or a reason may hold bytes that are not UTF-8: written as U+FFFD.
std::string dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

BridgeAnswer BridgeAnswer::error(int status, const std::string& message) {
  nlohmann::ordered_json j;
  j["error"] = message;
  return {status, dump(j)};
}

BridgeAnswer BridgeAnswer::transaction(int status, const std::string& txnRef) {
  nlohmann::ordered_json j;
  j["txnRef"] = txnRef;
  j["events"] = "/v1/transactions/" + percentEncode(txnRef) + "/events";
  return {status, dump(j)};
}

BridgeAnswer BridgeAnswer::reference(int status, const std::string& txnRef) {
  nlohmann::ordered_json j;
  j["txnRef"] = txnRef;
  return {status, dump(j)};
}

}  // namespace kovbridge
