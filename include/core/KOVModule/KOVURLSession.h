#pragma once
#include <KOVModule/KOVExport.h>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

/// The URL loading layer's error domain: time-outs, refused or lost connections, TLS
/// failures, cancellations, oversize bodies. The engine counts these as poll failures.
inline constexpr const char* NSURLErrorDomain = "NSURLErrorDomain";

/// Codes of NSURLErrorDomain that the transports report.
enum KOVURLErrorCode : int32_t {
  NSURLErrorUnknown = -1,
  NSURLErrorCancelled = -999,
  NSURLErrorBadURL = -1000,
  NSURLErrorTimedOut = -1001,
  NSURLErrorUnsupportedURL = -1002,
  NSURLErrorCannotFindHost = -1003,
  NSURLErrorCannotConnectToHost = -1004,
  NSURLErrorNetworkConnectionLost = -1005,
  NSURLErrorBadServerResponse = -1011,
  NSURLErrorDataLengthExceedsMaximum = -1103,
  NSURLErrorSecureConnectionFailed = -1200,
  NSURLErrorServerCertificateUntrusted = -1202,
};

/// A transport error. Its description says what happened in plain words ("connection
/// refused by 127.0.0.1:8080", "certificate not trusted: ...") and never holds the request
/// body nor anything of the answer.
struct KOVError {
  std::string domain;
  int32_t code = 0;
  std::string description;
  /// False only when the transport knows that no byte of the request was written (the
  /// connection or its TLS handshake failed, or the request was refused or cancelled before
  /// it went out): the service cannot have seen it. True whenever that is not certain.
  bool requestSent = true;
};

/// The HTTP answer's head: the status is not judged by the transport.
struct KOVURLResponse {
  int32_t statusCode = 0;
  std::string url;
  /// The wait a Retry-After header asks for (its seconds, or its HTTP date less the time it
  /// arrived; 0 for a date gone), when the answer carries one the transport could read.
  std::optional<std::chrono::seconds> retryAfter;
};

/// Completion of one request: (body, response head, error); any may be absent.
using ResponseHandler = std::function<void(const std::optional<std::string>& data,
                                           const std::optional<KOVURLResponse>& response,
                                           const std::optional<KOVError>& error)>;

/// Identifies a request posted through a session, for cancel().
using KOVRequestId = uint64_t;

namespace kov {
/// Largest answer body a transport accepts; a larger one is NSURLErrorDataLengthExceedsMaximum.
/// Public because a host that writes its own session must keep to it too: the engine refuses
/// a larger body whichever session delivered it.
inline constexpr std::size_t kMaxResponseBytes = 1024 * 1024;
}  // namespace kov

/// The HTTP client the engine posts through. Every completion runs exactly once, on the
/// main thread (the host's event loop), never from inside post(); also for cancelled
/// requests (with NSURLErrorCancelled). The transport retries nothing and judges nothing.
class KOV_CORE_EXPORT KOVURLSession {
 public:
  virtual ~KOVURLSession() = default;
  /// POSTs body (UTF-8) to url with "Content-Type: text/xml" and the time-out in seconds.
  virtual KOVRequestId post(const std::string& url, const std::string& body,
                            double timeoutSeconds, ResponseHandler completion) = 0;
  /// Cancels one request; its completion still runs once, with NSURLErrorCancelled.
  virtual void cancel(KOVRequestId request) = 0;
  /// Cancels every outstanding request and drops pooled connections; the session is not
  /// used again afterwards.
  virtual void invalidateAndCancel() = 0;
  /// Whether a session kept after a time-out result may carry the next transaction: false
  /// once the settings it was made with (such as the trusted certificates) have changed.
  virtual bool canBeReused() const { return true; }
};

/// Makes a fresh session; the engine calls it whenever it needs one.
using KOVURLSessionFactory = std::function<std::unique_ptr<KOVURLSession>()>;

/// Runs closures later on the host's main thread, in the order posted.
class KOV_CORE_EXPORT KOVMainQueue {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~KOVMainQueue() = default;
  virtual void post(std::function<void()> work) = 0;
  /// Runs work later on the main thread, no sooner than delay after now(). A queue without
  /// timers runs it as post() does.
  virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
    (void)delay;
    post(std::move(work));
  }
  /// The clock postAfter counts on.
  virtual Clock::time_point now() const { return Clock::now(); }
};
