#include "BridgeDispatcher.h"

#include <variant>

#include "BridgeLog.h"
#include "BridgeRouter.h"
#include "BridgeStatic.h"

namespace kovbridge {
namespace {

BridgeReply reply(const BridgeAnswer& answer) { return BridgeReply::of(answer.status, answer.body); }

BridgeReply refusal(const BridgeBodyError& error) { return reply(BridgeAnswer::error(400, error.message)); }

const char* routeName(BridgeRoute route) {
  switch (route) {
    case BridgeRoute::Health: return "healthz";
    case BridgeRoute::Metrics: return "metrics";
    case BridgeRoute::Pending: return "pending";
    case BridgeRoute::Start: return "start";
    case BridgeRoute::Events: return "events";
    case BridgeRoute::Press: return "press";
    case BridgeRoute::Cancel: return "cancel";
    case BridgeRoute::Recover: return "recover";
    case BridgeRoute::Acknowledge: return "acknowledge";
    case BridgeRoute::Static: return "page";
    case BridgeRoute::NotFound: return "unknown path";
    case BridgeRoute::MethodNotAllowed: return "wrong method";
  }
  return "?";
}

// References are the host's own and not secret, but they are the page's text: encoded, they
// cannot break the line.
void logRequest(const std::string& method, BridgeRoute route, const std::string& txnRef, int status) {
  logLine(method + " " + routeName(route) + (txnRef.empty() ? "" : " " + percentEncode(txnRef)) + " -> " +
          std::to_string(status));
}

}  // namespace

BridgeDispatcher::BridgeDispatcher(BridgeTill& till, const BridgeGuard& guard, BridgeMetrics& metrics,
                                   std::optional<std::string> serveDir)
    : _till(till), _guard(guard), _metrics(metrics), _serveDir(std::move(serveDir)) {}

BridgeReply BridgeDispatcher::dispatch(const BridgeHttpRequest& request) {
  const BridgeTarget target = routeOf(request.method, request.target, _serveDir.has_value());
  const BridgeVerdict verdict = _guard.check({.method = request.method,
                                              .host = request.host,
                                              .origin = request.origin,
                                              .authorization = request.authorization,
                                              .preflight = request.preflight,
                                              .open = target.route == BridgeRoute::Health ||
                                                      target.route == BridgeRoute::Static});
  BridgeReply out;
  if (verdict.status == 204) {
    out = BridgeReply::of(204, "", "");
  } else if (verdict.status != 0) {
    out = reply(BridgeAnswer::error(verdict.status, verdict.error));
  } else {
    out = answer(request, target);
  }
  out.headers.insert(out.headers.end(), verdict.headers.begin(), verdict.headers.end());
  // A stream's status is known once it is subscribed (404 for a transaction the till lacks).
  if (!out.events) logRequest(request.method, target.route, target.txnRef, out.status);
  return out;
}

BridgeReply BridgeDispatcher::answer(const BridgeHttpRequest& request, const BridgeTarget& target) {
  switch (target.route) {
    case BridgeRoute::Health:
      return BridgeReply::of(200, "{\"status\":\"ok\"}");
    case BridgeRoute::Metrics:
      return BridgeReply::of(200, _metrics.render(_till.pendingCount()), "text/plain; version=0.0.4; charset=utf-8");
    case BridgeRoute::Pending:
      return reply(_till.pending());
    case BridgeRoute::Start: {
      const auto start = parseStart(request.body);
      if (const auto* error = std::get_if<BridgeBodyError>(&start)) return refusal(*error);
      return reply(_till.start(std::get<BridgeStart>(start)));
    }
    case BridgeRoute::Events: {
      BridgeReply stream = BridgeReply::of(200, "", "text/event-stream");
      stream.events = target.txnRef;
      return stream;
    }
    case BridgeRoute::Press: {
      const auto button = parseButton(request.body);
      if (const auto* error = std::get_if<BridgeBodyError>(&button)) return refusal(*error);
      return reply(_till.press(target.txnRef, std::get<std::string>(button)));
    }
    case BridgeRoute::Cancel:
      return reply(_till.cancel(target.txnRef));
    case BridgeRoute::Recover: {
      const auto body = parseRecover(request.body);
      if (const auto* error = std::get_if<BridgeBodyError>(&body)) return refusal(*error);
      return reply(_till.recover(target.txnRef, std::get<BridgeRecoverBody>(body)));
    }
    case BridgeRoute::Acknowledge:
      return reply(_till.acknowledge(target.txnRef));
    case BridgeRoute::Static: {
      auto file = staticFile(*_serveDir, target.filePath);
      if (!file) return reply(BridgeAnswer::error(404, "no such file"));
      return BridgeReply::of(200, std::move(file->content), file->contentType);
    }
    case BridgeRoute::MethodNotAllowed: {
      BridgeReply out = reply(BridgeAnswer::error(405, "this path takes " + target.allowed + " only"));
      out.headers.emplace_back("Allow", target.allowed);
      return out;
    }
    case BridgeRoute::NotFound:
      break;
  }
  return reply(BridgeAnswer::error(404, "no such path"));
}

BridgeSubscription BridgeDispatcher::subscribe(const std::string& txnRef, BridgeEventSink sink) {
  BridgeSubscription subscription = _till.subscribe(txnRef, std::move(sink));
  logRequest("GET", BridgeRoute::Events, txnRef, subscription.known ? 200 : 404);
  return subscription;
}

void BridgeDispatcher::unsubscribe(uint64_t id) { _till.unsubscribe(id); }

}  // namespace kovbridge
