#include "KOVQtNetworkErrors.h"

namespace kovqt {

bool isHttpStatusError(QNetworkReply::NetworkError code) {
  switch (code) {
    case QNetworkReply::NoError:
    case QNetworkReply::ProtocolInvalidOperationError:  // 400
    case QNetworkReply::ProxyAuthenticationRequiredError:  // 407
    case QNetworkReply::ContentAccessDenied:
    case QNetworkReply::ContentOperationNotPermittedError:
    case QNetworkReply::ContentNotFoundError:
    case QNetworkReply::AuthenticationRequiredError:
    case QNetworkReply::ContentConflictError:
    case QNetworkReply::ContentGoneError:
    case QNetworkReply::UnknownContentError:
    case QNetworkReply::InternalServerError:
    case QNetworkReply::OperationNotImplementedError:
    case QNetworkReply::ServiceUnavailableError:
    case QNetworkReply::UnknownServerError:
      return true;
    default:
      return false;
  }
}

KOVError urlError(KOVURLErrorCode code, const char* description) {
  return KOVError{NSURLErrorDomain, code, description};
}

KOVError urlErrorFor(QNetworkReply::NetworkError code, EndReason reason) {
  switch (reason) {
    case EndReason::Cancelled:
      return urlError(NSURLErrorCancelled, "The request was cancelled.");
    case EndReason::Oversize:
      return urlError(NSURLErrorDataLengthExceedsMaximum, "The answer is larger than the maximum accepted.");
    case EndReason::TlsUntrusted:
      return urlError(NSURLErrorServerCertificateUntrusted, "The server's certificate is not trusted.");
    case EndReason::Finished:
      break;
  }
  switch (code) {
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
      return urlError(NSURLErrorCannotConnectToHost, "Could not connect to the server.");
    case QNetworkReply::HostNotFoundError:
      return urlError(NSURLErrorCannotFindHost, "A server with this host name could not be found.");
    case QNetworkReply::TimeoutError:
    case QNetworkReply::ProxyTimeoutError:
    // The request's own time-out aborts the reply; a cancel of ours is told apart by the caller.
    case QNetworkReply::OperationCanceledError:
      return urlError(NSURLErrorTimedOut, "The request timed out.");
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
      return urlError(NSURLErrorNetworkConnectionLost, "The network connection was lost.");
    case QNetworkReply::ContentReSendError:
      // The connection closed after the request had been sent; it is not sent twice.
      return urlError(NSURLErrorNetworkConnectionLost,
                      "The network connection was lost after the request was sent.");
    case QNetworkReply::SslHandshakeFailedError:
    case QNetworkReply::UnknownProxyError:
      return urlError(NSURLErrorSecureConnectionFailed, "A secure connection to the server could not be made.");
    case QNetworkReply::ProtocolUnknownError:
      return urlError(NSURLErrorUnsupportedURL, "The URL's scheme is not supported.");
    case QNetworkReply::ProtocolFailure:
    case QNetworkReply::TooManyRedirectsError:
    case QNetworkReply::InsecureRedirectError:
      return urlError(NSURLErrorBadServerResponse, "The server's answer could not be read.");
    default:
      return urlError(NSURLErrorUnknown, "The request failed.");
  }
}

}  // namespace kovqt
