#pragma once
// Translation of Qt's network failures into the URL-layer errors the engine counts.
#include <KOVModule/KOVURLSession.h>

#include <QNetworkReply>

namespace kovqt {

/// Why a request ended, beyond what QNetworkReply itself reports.
enum class EndReason {
  Finished,       // the reply finished by itself (answer or network failure)
  Cancelled,      // cancel() or invalidateAndCancel()
  Oversize,       // the body passed the cap and the download was stopped
  TlsUntrusted,   // the handshake failed because the peer's certificate was not trusted
};

/// True when a reply that ended with this code still carries an HTTP answer (4xx, 5xx):
/// such a reply is data for the engine, not a transport failure.
bool isHttpStatusError(QNetworkReply::NetworkError code);

/// The URL-layer error for a request that did not produce an HTTP answer. The description
/// is ours and fixed per code: it never holds anything of the request or the answer.
KOVError urlErrorFor(QNetworkReply::NetworkError code, EndReason reason);

/// The error of a request refused before it reached the network.
KOVError urlError(KOVURLErrorCode code, const char* description);

}  // namespace kovqt
