#pragma once
// libcurl's failures as the URL-layer errors the engine counts.
#include <KOVModule/KOVURLSession.h>

#include <curl/curl.h>

namespace kovcurl {

/// The error of a request refused or ended by the session itself. The description is ours
/// and fixed per code: it never holds anything of the request or the answer.
KOVError urlError(KOVURLErrorCode code, const char* description);

/// The URL-layer error of a transfer that ended with result (not CURLE_OK).
KOVError urlErrorFor(CURLcode result);

/// The error of a cancelled request.
KOVError cancelledError();

/// The error of an answer that passed kKOVMaxResponseBytes.
KOVError oversizeError();

}  // namespace kovcurl
