#include "KOVQtSession.h"

#include <KOVModule/WqKOV.h>

#include <QHostAddress>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <vector>

#include "KOVQtMainQueue.h"
#include "KOVQtReadOnceDevice.h"

namespace kovqt {
namespace {

constexpr double kDefaultTimeoutSeconds = 60.0;
constexpr qint64 kMaxBody = static_cast<qint64>(kKOVMaxResponseBytes);

void deliver(ResponseHandler completion, std::optional<std::string> data, std::optional<KOVURLResponse> response,
             std::optional<KOVError> error) {
  if (!completion) {
    return;
  }
  runOnMainThread([completion = std::move(completion), data = std::move(data), response = std::move(response),
                   error = std::move(error)] { completion(data, response, error); });
}

// The key travels in every body: only https, and plain http to this machine, are used.
std::optional<KOVError> refusalOf(const QUrl& url, const std::string& text) {
  const QString scheme = url.scheme();
  const bool https = scheme == QLatin1String("https");
  if (!https && scheme != QLatin1String("http")) {
    return urlError(NSURLErrorUnsupportedURL, "The URL's scheme is not supported.");
  }
  const QString host = url.host();
  if (!https && host != QLatin1String("localhost") && !QHostAddress(host).isLoopback()) {
    return urlError(NSURLErrorUnsupportedURL, "Plain http is used only for this machine.");
  }
  if (!url.isValid() || host.isEmpty() || !WqKOV::isAcceptableEndpointUrl(text)) {
    return urlError(NSURLErrorBadURL, "The URL is not valid for this service.");
  }
  return std::nullopt;
}

}  // namespace

Session::Session(QSslConfiguration sslConfiguration)
    : _sslConfiguration(std::move(sslConfiguration)), _manager(std::make_unique<QNetworkAccessManager>()) {}

Session::~Session() { invalidateAndCancel(); }

int Session::transferTimeoutMs(double timeoutSeconds) {
  const double seconds = (std::isfinite(timeoutSeconds) && timeoutSeconds > 0) ? timeoutSeconds : kDefaultTimeoutSeconds;
  const double ms = std::ceil(seconds * 1000.0);
  if (ms >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return std::max(1, static_cast<int>(ms));
}

KOVRequestId Session::post(const std::string& url, const std::string& body, double timeoutSeconds,
                           ResponseHandler completion) {
  const KOVRequestId id = _nextId++;
  if (!_manager) {
    deliver(std::move(completion), std::nullopt, std::nullopt,
            urlError(NSURLErrorCancelled, "The session has been invalidated."));
    return id;
  }
  const QUrl target(QString::fromStdString(url), QUrl::StrictMode);
  if (std::optional<KOVError> refusal = refusalOf(target, url)) {
    deliver(std::move(completion), std::nullopt, std::nullopt, std::move(refusal));
    return id;
  }

  QNetworkRequest request(target);
  request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("text/xml"));
  request.setHeader(QNetworkRequest::ContentLengthHeader, static_cast<qulonglong>(body.size()));
  // Answers are a few hundred bytes: Qt's default offer of gzip and brotli only makes the
  // service compress every poll (brotli at its slowest setting in common servers) and this
  // side decompress it. Uncompressed answers arrive sooner and cost less on both ends.
  request.setRawHeader(QByteArrayLiteral("Accept-Encoding"), QByteArrayLiteral("identity"));
  // With the body unbuffered and read once, Qt cannot quietly post it a second time.
  request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
  // HTTP/1.1 only: one kept-alive connection per session, reused request after request.
  request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
  // A redirect would carry the merchant key elsewhere; it is an answer like any other.
  request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  request.setTransferTimeout(transferTimeoutMs(timeoutSeconds));
  if (target.scheme() == QLatin1String("https")) {
    request.setSslConfiguration(_sslConfiguration);
  }

  // Parented to the manager at once, then to its reply, which it must outlive.
  auto* device = new ReadOnceDevice(QByteArray(body.data(), static_cast<qsizetype>(body.size())), _manager.get());
  QNetworkReply* reply = _manager->post(request, device);
  device->setParent(reply);
  // Qt stops reading from the connection once this much is waiting, so an oversize answer
  // never sits in memory whole.
  reply->setReadBufferSize(kMaxBody + 1);

  Request& entry = _requests[id];
  entry.reply = reply;
  entry.completion = std::move(completion);
  entry.connections = {
      QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, [this, id] { onMetaData(id); }),
      QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, id] { onReadyRead(id); }),
      QObject::connect(reply, &QNetworkReply::sslErrors, reply, [this, id] { onSslErrors(id); }),
      QObject::connect(reply, &QNetworkReply::finished, reply, [this, id] { onFinished(id); }),
  };
  if (reply->isFinished()) {
    onFinished(id);  // queues the completion; it never runs inside post()
  }
  return id;
}

void Session::stop(KOVRequestId id, EndReason reason) {
  const auto found = _requests.find(id);
  if (found == _requests.end()) {
    return;
  }
  found->second.reason = reason;
  QNetworkReply* reply = found->second.reply;
  reply->abort();  // emits finished, which completes the request and erases it
}

void Session::cancel(KOVRequestId request) { stop(request, EndReason::Cancelled); }

void Session::invalidateAndCancel() {
  std::vector<KOVRequestId> outstanding;
  outstanding.reserve(_requests.size());
  for (const auto& [id, entry] : _requests) {
    outstanding.push_back(id);
  }
  for (const KOVRequestId id : outstanding) {
    stop(id, EndReason::Cancelled);
  }
  // Whatever Qt did not finish on abort is completed here, still exactly once.
  for (auto& [id, entry] : _requests) {
    for (const QMetaObject::Connection& connection : entry.connections) {
      QObject::disconnect(connection);
    }
    deliver(std::move(entry.completion), std::nullopt, std::nullopt,
            urlErrorFor(QNetworkReply::OperationCanceledError, EndReason::Cancelled));
  }
  _requests.clear();
  if (_manager) {
    // Deleting the manager closes its pooled connections and ends its HTTP thread.
    _manager->clearConnectionCache();
    _manager.reset();
  }
}

void Session::onMetaData(KOVRequestId id) {
  const auto found = _requests.find(id);
  if (found == _requests.end()) {
    return;
  }
  const QVariant length = found->second.reply->header(QNetworkRequest::ContentLengthHeader);
  if (length.isValid() && length.toLongLong() > kMaxBody) {
    stop(id, EndReason::Oversize);  // announced too large: not downloaded at all
  }
}

void Session::onReadyRead(KOVRequestId id) {
  const auto found = _requests.find(id);
  if (found == _requests.end()) {
    return;
  }
  Request& entry = found->second;
  // Read no more than one byte past the cap: that byte alone proves the body too large.
  entry.body.append(entry.reply->read(kMaxBody + 1 - entry.body.size()));
  if (entry.body.size() > kMaxBody) {
    stop(id, EndReason::Oversize);
  }
}

void Session::onSslErrors(KOVRequestId id) {
  const auto found = _requests.find(id);
  if (found != _requests.end()) {
    // Never ignored: the handshake fails, and the error says the certificate was the reason.
    found->second.certificateRejected = true;
  }
}

void Session::onFinished(KOVRequestId id) {
  const auto found = _requests.find(id);
  if (found == _requests.end()) {
    return;
  }
  Request entry = std::move(found->second);
  _requests.erase(found);
  for (const QMetaObject::Connection& connection : entry.connections) {
    QObject::disconnect(connection);
  }
  QNetworkReply* reply = entry.reply;
  reply->deleteLater();

  EndReason reason = entry.reason;
  const QNetworkReply::NetworkError code = reply->error();
  if (reason == EndReason::Finished && code != QNetworkReply::OperationCanceledError) {
    entry.body.append(reply->read(kMaxBody + 1 - entry.body.size()));
    if (entry.body.size() > kMaxBody) {
      reason = EndReason::Oversize;
    }
  }
  if (reason == EndReason::Finished && code == QNetworkReply::SslHandshakeFailedError && entry.certificateRejected) {
    reason = EndReason::TlsUntrusted;
  }
  const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
  // Qt reports a 307 or 308 answer that it would have to post again as a resend error,
  // after the answer's head and body have arrived: it is an answer all the same.
  const bool answered = isHttpStatusError(code) || code == QNetworkReply::ContentReSendError;
  if (reason == EndReason::Finished && status.isValid() && answered) {
    // A body cut short of its announced length is a lost connection, never an answer: Qt
    // at times finishes such a reply without an error when the peer resets the line. (Qt
    // drops the length header when it decompresses, so a decoded body is not judged here.)
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    if (announced.isValid() && entry.body.size() < announced.toLongLong()) {
      deliver(std::move(entry.completion), std::nullopt, std::nullopt,
              urlError(NSURLErrorNetworkConnectionLost, "The connection was lost before the whole answer arrived."));
      return;
    }
    // An HTTP answer, whatever its status: the body is the answer.
    deliver(std::move(entry.completion), entry.body.toStdString(),
            KOVURLResponse{status.toInt(), reply->url().toString().toStdString()}, std::nullopt);
    return;
  }
  KOVError error = (reason == EndReason::Finished && code == QNetworkReply::NoError)
                       ? urlError(NSURLErrorBadServerResponse, "The server's answer could not be read.")
                       : urlErrorFor(code, reason);
  deliver(std::move(entry.completion), std::nullopt, std::nullopt, std::move(error));
}

}  // namespace kovqt
