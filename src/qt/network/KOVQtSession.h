#pragma once
// One engine session over one QNetworkAccessManager.
#include <KOVModule/KOVURLSession.h>

#include <QByteArray>
#include <QList>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QSslConfiguration>

#include <memory>
#include <unordered_map>

#include "KOVQtNetworkErrors.h"

class QNetworkReply;

namespace kovqt {

/// Posts each request once over the session's own manager, so its kept-alive connection
/// carries a whole transaction. Completions are queued on the application's event loop and
/// do not depend on the session: they run once each, also after the session is gone.
/// Used from the application's thread only.
class Session final : public KOVURLSession {
 public:
  explicit Session(QSslConfiguration sslConfiguration);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override;
  void cancel(KOVRequestId request) override;
  void invalidateAndCancel() override;

  /// The request's time-out in milliseconds: a time-out that is not a positive number
  /// means the default, so no request ever waits forever.
  static int transferTimeoutMs(double timeoutSeconds);

 private:
  struct Request {
    QNetworkReply* reply = nullptr;  // owned by the manager until deleteLater
    ResponseHandler completion;
    QByteArray body;
    EndReason reason = EndReason::Finished;
    bool certificateRejected = false;
    QList<QMetaObject::Connection> connections;
  };

  void onMetaData(KOVRequestId id);
  void onReadyRead(KOVRequestId id);
  void onSslErrors(KOVRequestId id);
  void onFinished(KOVRequestId id);
  // Stops a request's transfer; its finished signal then completes it.
  void stop(KOVRequestId id, EndReason reason);

  QSslConfiguration _sslConfiguration;
  std::unique_ptr<QNetworkAccessManager> _manager;
  std::unordered_map<KOVRequestId, Request> _requests;
  KOVRequestId _nextId = 1;
};

}  // namespace kovqt
