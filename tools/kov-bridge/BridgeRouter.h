#pragma once
// Which operation a request names: decided from its method and target alone.
#include <string>
#include <string_view>

namespace kovbridge {

/// The operations of the bridge's HTTP interface.
enum class BridgeRoute {
  Health,          ///< GET /healthz
  Metrics,         ///< GET /metrics
  Pending,         ///< GET /v1/pending
  Start,           ///< POST /v1/transactions
  Events,          ///< GET /v1/transactions/{txnRef}/events
  Press,           ///< POST /v1/transactions/{txnRef}/press
  Cancel,          ///< POST /v1/transactions/{txnRef}/cancel
  Recover,         ///< POST /v1/transactions/{txnRef}/recover
  Acknowledge,     ///< POST /v1/transactions/{txnRef}/acknowledge
  Static,          ///< GET of a file of the served folder
  NotFound,
  MethodNotAllowed,
};

/// A routed request: the operation, the decoded reference of a transaction's path, the
/// decoded path of a served file, and the methods its path takes (for 405).
struct BridgeTarget {
  BridgeRoute route = BridgeRoute::NotFound;
  std::string txnRef;
  std::string filePath;
  std::string allowed;
};

/// Routes method and target (path and optional query, as on the request line); serving says
/// whether a folder is served at /. References are percent-decoded; one that does not decode
/// (a bad escape, a NUL) names nothing.
BridgeTarget routeOf(std::string_view method, std::string_view target, bool serving);

/// text percent-decoded; false for a bad escape or a NUL.
bool percentDecode(std::string_view text, std::string& decoded);

/// text with every byte but the unreserved ones (letters, digits, - . _ ~) percent-encoded.
std::string percentEncode(std::string_view text);

}  // namespace kovbridge
