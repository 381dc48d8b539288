#pragma once
// From a request to its answer: the guard, the route, then the till.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BridgeGuard.h"
#include "BridgeMetrics.h"
#include "BridgeTill.h"

namespace kovbridge {

/// A request as the connection read it.
struct BridgeHttpRequest {
  std::string method;
  std::string target;
  std::optional<std::string> host;
  std::optional<std::string> origin;
  std::optional<std::string> authorization;
  bool preflight = false;  ///< an Access-Control-Request-Method header came
  std::string body;
};

/// An answer to write, or an event stream to open (events: its reference).
struct BridgeReply {
  int status = 200;
  std::string contentType = "application/json";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  std::optional<std::string> events;

  static BridgeReply of(int status, std::string body, std::string contentType = "application/json") {
    BridgeReply reply;
    reply.status = status;
    reply.body = std::move(body);
    reply.contentType = std::move(contentType);
    return reply;
  }
};

/// Answers the bridge's interface: checks each request with the guard, routes it and asks the
/// till; serves the page's folder when one is given. Logs one line per request, without its
/// body.
class BridgeDispatcher {
 public:
  BridgeDispatcher(BridgeTill& till, const BridgeGuard& guard, BridgeMetrics& metrics,
                   std::optional<std::string> serveDir);

  BridgeReply dispatch(const BridgeHttpRequest& request);
  /// Opens the event stream dispatch asked for.
  BridgeSubscription subscribe(const std::string& txnRef, BridgeEventSink sink);
  void unsubscribe(uint64_t id);

 private:
  BridgeReply answer(const BridgeHttpRequest& request, const struct BridgeTarget& target);

  BridgeTill& _till;
  const BridgeGuard& _guard;
  BridgeMetrics& _metrics;
  std::optional<std::string> _serveDir;
};

}  // namespace kovbridge
