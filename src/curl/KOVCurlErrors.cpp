#include "KOVCurlErrors.h"

namespace kovcurl {

KOVError urlError(KOVURLErrorCode code, const char* description) {
  return KOVError{NSURLErrorDomain, code, description};
}

KOVError cancelledError() { return urlError(NSURLErrorCancelled, "The request was cancelled."); }

KOVError oversizeError() {
  return urlError(NSURLErrorDataLengthExceedsMaximum, "The answer is larger than the maximum accepted.");
}

KOVError urlErrorFor(CURLcode result) {
  switch (result) {
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return urlError(NSURLErrorCannotConnectToHost, "Could not connect to the server.");
    case CURLE_COULDNT_RESOLVE_HOST:
      return urlError(NSURLErrorCannotFindHost, "A server with this host name could not be found.");
    case CURLE_OPERATION_TIMEDOUT:
      return urlError(NSURLErrorTimedOut, "The request timed out.");
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
      return urlError(NSURLErrorNetworkConnectionLost, "The network connection was lost.");
    case CURLE_PARTIAL_FILE:
      return urlError(NSURLErrorNetworkConnectionLost, "The connection was lost before the whole answer arrived.");
    case CURLE_SEND_FAIL_REWIND:
      // A reused connection closed after the request was sent; the body cannot be read
      // again, so the request is not sent a second time.
      return urlError(NSURLErrorNetworkConnectionLost, "The network connection was lost after the request was sent.");
    case CURLE_PEER_FAILED_VERIFICATION:
      return urlError(NSURLErrorServerCertificateUntrusted, "The server's certificate is not trusted.");
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
      return urlError(NSURLErrorSecureConnectionFailed, "A secure connection to the server could not be made.");
    case CURLE_UNSUPPORTED_PROTOCOL:
      return urlError(NSURLErrorUnsupportedURL, "The URL's scheme is not supported.");
    case CURLE_URL_MALFORMAT:
      return urlError(NSURLErrorBadURL, "The URL is not valid for this service.");
    case CURLE_FILESIZE_EXCEEDED:
      return oversizeError();
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_BAD_CONTENT_ENCODING:
    case CURLE_TOO_MANY_REDIRECTS:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_HTTP3:
      return urlError(NSURLErrorBadServerResponse, "The server's answer could not be read.");
    default:
      return urlError(NSURLErrorUnknown, "The request failed.");
  }
}

}  // namespace kovcurl
