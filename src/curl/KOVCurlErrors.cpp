#include "KOVCurlErrors.h"

#include <cerrno>
#include <system_error>
#include <utility>

namespace kovcurl {
namespace {

static_assert(kov::kMaxResponseBytes == 1024 * 1024, "the oversize text names the cap");

std::string wholeSeconds(long ms) { return std::to_string((ms + 999) / 1000) + " s"; }

// curl's own words for the failure, or its code's text when it left none.
std::string detailOf(const TransferFailure& failure) {
  return failure.curlDetail.empty() ? std::string(curl_easy_strerror(failure.result)) : failure.curlDetail;
}

KOVError connectError(const TransferFailure& failure) {
  const std::string& authority = failure.server.authority;
  if (failure.osErrno == ECONNREFUSED) {
    return urlError(NSURLErrorCannotConnectToHost, "connection refused by " + authority, failure.started);
  }
  // The system's words (strerror_r underneath, safe on any thread).
  const std::string why = failure.osErrno != 0
                              ? std::generic_category().message(static_cast<int>(failure.osErrno))
                              : detailOf(failure);
  return urlError(NSURLErrorCannotConnectToHost, "no connection to " + authority + ": " + why, failure.started);
}

}  // namespace

KOVError urlError(KOVURLErrorCode code, std::string description, bool requestSent) {
  return KOVError{NSURLErrorDomain, code, std::move(description), requestSent};
}

KOVError cancelledError(bool started) { return urlError(NSURLErrorCancelled, "the request was cancelled", started); }

KOVError oversizeError(const Server& server) {
  return urlError(NSURLErrorDataLengthExceedsMaximum, "the answer from " + server.authority + " is larger than 1 MiB",
                  true);
}

KOVError lostAfterSendingError(const Server& server) {
  return urlError(NSURLErrorNetworkConnectionLost,
                  "the connection to " + server.authority + " was lost after the request was sent", true);
}

KOVError unreadableAnswerError(const Server& server) {
  return urlError(NSURLErrorBadServerResponse, "the answer from " + server.authority + " could not be read", true);
}

KOVError answerHeadError(KOVCurlAnswerHead::Fault fault, const Server& server) {
  const std::string& authority = server.authority;
  switch (fault) {
    case KOVCurlAnswerHead::Fault::TooLarge:
      return urlError(NSURLErrorBadServerResponse, "the answer from " + authority + " has a header too large to read",
                      true);
    case KOVCurlAnswerHead::Fault::TwoLengths:
      return urlError(NSURLErrorBadServerResponse,
                      "the answer from " + authority + " is malformed: two different Content-Length headers", true);
    case KOVCurlAnswerHead::Fault::Http2Only:
      return urlError(NSURLErrorBadServerResponse, authority + " answers in HTTP/2 only", true);
    case KOVCurlAnswerHead::Fault::NotHttp:
      return urlError(NSURLErrorBadServerResponse, "the answer from " + authority + " is not HTTP", true);
    case KOVCurlAnswerHead::Fault::None:
      break;
  }
  return unreadableAnswerError(server);
}

KOVError urlErrorFor(const TransferFailure& failure) {
  const std::string& authority = failure.server.authority;
  const bool sent = failure.started;
  switch (failure.result) {
    case CURLE_COULDNT_CONNECT:
      return connectError(failure);
    case CURLE_COULDNT_RESOLVE_PROXY:
      return urlError(NSURLErrorCannotConnectToHost, "the proxy's host name cannot be resolved", sent);
    case CURLE_COULDNT_RESOLVE_HOST:
      return urlError(NSURLErrorCannotFindHost, "the host name " + failure.server.host + " cannot be resolved", sent);
    case CURLE_OPERATION_TIMEDOUT:
      // Before the request could be written, the time went on the name, the connection or
      // its handshake.
      return urlError(NSURLErrorTimedOut,
                      (sent ? "no answer from " : "no connection to ") + authority + " within " +
                          wholeSeconds(failure.timeoutMs),
                      sent);
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
      return urlError(NSURLErrorNetworkConnectionLost, "the connection to " + authority + " was lost", sent);
    case CURLE_GOT_NOTHING:
      return urlError(NSURLErrorNetworkConnectionLost, authority + " closed the connection without an answer", sent);
    case CURLE_PARTIAL_FILE:
      return urlError(NSURLErrorNetworkConnectionLost,
                      "the connection to " + authority + " was lost before the whole answer arrived", sent);
    case CURLE_SEND_FAIL_REWIND:
      // A reused connection closed after the request was sent; the body cannot be read
      // again, so the request is not sent a second time.
      return lostAfterSendingError(failure.server);
    case CURLE_PEER_FAILED_VERIFICATION:
      return urlError(NSURLErrorServerCertificateUntrusted, "certificate not trusted: " + detailOf(failure), sent);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_USE_SSL_FAILED:
      return urlError(NSURLErrorSecureConnectionFailed,
                      "no secure connection to " + authority + ": " + detailOf(failure), sent);
    case CURLE_UNSUPPORTED_PROTOCOL:
      // Once the request went out, the scheme was accepted: it is the answer's protocol (a
      // status line of an HTTP version curl does not read) that is not.
      return sent ? unreadableAnswerError(failure.server)
                  : urlError(NSURLErrorUnsupportedURL, "the URL's scheme is not supported", false);
    case CURLE_URL_MALFORMAT:
      return urlError(NSURLErrorBadURL, "the URL is not valid for this service", sent);
    case CURLE_FILESIZE_EXCEEDED:
      return oversizeError(failure.server);
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3: {
      KOVError error = unreadableAnswerError(failure.server);
      error.requestSent = sent;
      return error;
    }
    default:
      return urlError(NSURLErrorUnknown,
                      "the request to " + authority + " failed: " + curl_easy_strerror(failure.result), sent);
  }
}

}  // namespace kovcurl
