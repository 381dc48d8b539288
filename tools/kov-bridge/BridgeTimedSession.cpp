#include "BridgeTimedSession.h"

#include <chrono>
#include <utility>

namespace kovbridge {

BridgeTimedSession::BridgeTimedSession(std::unique_ptr<KOVURLSession> inner, BridgeMetrics& metrics)
    : _inner(std::move(inner)), _metrics(metrics) {}

KOVURLSessionFactory BridgeTimedSession::wrap(KOVURLSessionFactory factory, BridgeMetrics& metrics) {
  return [factory = std::move(factory), &metrics]() -> std::unique_ptr<KOVURLSession> {
    return std::make_unique<BridgeTimedSession>(factory(), metrics);
  };
}

KOVRequestId BridgeTimedSession::post(const std::string& url, const std::string& body, double timeoutSeconds,
                                      ResponseHandler completion) {
  // The metrics outlive every session; a completion may run after its session is gone.
  const auto sent = std::chrono::steady_clock::now();
  return _inner->post(url, body, timeoutSeconds,
                      [&metrics = _metrics, sent, completion = std::move(completion)](const std::optional<std::string>& data,
                                                                       const std::optional<KOVURLResponse>& response,
                                                                       const std::optional<KOVError>& error) {
                        const bool cancelled = error && error->code == NSURLErrorCancelled;
                        if (!cancelled) {
                          metrics.observeRoundTrip(
                              std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count());
                          if (error || !response || response->statusCode >= 400) metrics.countPollFailure();
                        }
                        completion(data, response, error);
                      });
}

void BridgeTimedSession::cancel(KOVRequestId request) { _inner->cancel(request); }

void BridgeTimedSession::invalidateAndCancel() { _inner->invalidateAndCancel(); }

bool BridgeTimedSession::canBeReused() const { return _inner->canBeReused(); }

}  // namespace kovbridge
