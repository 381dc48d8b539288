#pragma once
// A session that times each request to its answer for the metrics.
#include <KOVModule/KOVURLSession.h>

#include <memory>

#include "BridgeMetrics.h"

namespace kovbridge {

/// Passes every call to the transport's session; on each completion it records the round
/// trip, and a failure when no answer or an HTTP error came (a cancelled request is neither).
class BridgeTimedSession final : public KOVURLSession {
 public:
  BridgeTimedSession(std::unique_ptr<KOVURLSession> inner, BridgeMetrics& metrics);

  /// Wraps every session factory makes.
  static KOVURLSessionFactory wrap(KOVURLSessionFactory factory, BridgeMetrics& metrics);

  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override;
  void cancel(KOVRequestId request) override;
  void invalidateAndCancel() override;
  bool canBeReused() const override;

 private:
  std::unique_ptr<KOVURLSession> _inner;
  BridgeMetrics& _metrics;
};

}  // namespace kovbridge
