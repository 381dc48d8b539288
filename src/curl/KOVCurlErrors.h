#pragma once
// libcurl's failures as the URL-layer errors the engine counts, in plain words that name the
// server, and whether the request can have left.
#include <KOVModule/KOVURLSession.h>

#include <curl/curl.h>

#include <string>

#include "KOVCurlAnswerHead.h"

namespace kovcurl {

/// The server a request goes to, as its errors name it.
struct Server {
  std::string host;       ///< As the URL gives it; an IPv6 address in brackets.
  std::string authority;  ///< "host:port": the URL's port, or its scheme's default.
};

/// What is known of a transfer that ended with a failure: nothing of the request's body nor
/// of the answer (curl's error buffer holds neither).
struct TransferFailure {
  CURLcode result = CURLE_OK;
  Server server;
  long timeoutMs = 0;       ///< The request's time-out.
  bool started = false;     ///< curl went on to write the request: it can have left.
  long osErrno = 0;         ///< The system's error of a failed connect (CURLINFO_OS_ERRNO).
  std::string curlDetail;   ///< curl's error buffer; may be empty.
};

/// An error the session gives by itself; requestSent: whether the request can have left.
KOVError urlError(KOVURLErrorCode code, std::string description, bool requestSent);

/// The URL-layer error of a transfer that ended with failure.result (not CURLE_OK).
KOVError urlErrorFor(const TransferFailure& failure);

/// The error of a cancelled request; started: it can have left.
KOVError cancelledError(bool started);

/// The error of an answer that passed kov::kMaxResponseBytes.
KOVError oversizeError(const Server& server);

/// The error of a request whose connection closed after it was sent, where curl would have
/// sent it again.
KOVError lostAfterSendingError(const Server& server);

/// The error of a transfer that ended without an HTTP answer that could be read.
KOVError unreadableAnswerError(const Server& server);

/// The error of an answer whose head could not be read (fault is not None).
KOVError answerHeadError(KOVCurlAnswerHead::Fault fault, const Server& server);

}  // namespace kovcurl
