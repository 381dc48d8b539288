#include "BenchSimulator.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTimer>

namespace kovbench {

BenchSimulator::BenchSimulator(const QString& program, const QStringList& extraArgs, bool tls) {
  QStringList args{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")};
  if (tls) {
    _certDir = std::make_unique<QTemporaryDir>();
    args << QStringLiteral("--tls") << QStringLiteral("--cert-dir") << _certDir->path();
  }
  args << extraArgs;
  // Its request log is not wanted; a full pipe would stall it.
  _process.setStandardErrorFile(QProcess::nullDevice());
  _process.start(program, args);
  if (!_process.waitForStarted(10000)) {
    return;
  }
  const QDeadlineTimer deadline(20000);
  QByteArray first;
  while (!first.contains('\n') && !deadline.hasExpired()) {
    if (_process.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) {
      first += _process.readAllStandardOutput();
    } else if (_process.state() != QProcess::Running) {
      return;
    }
  }
  static const QRegularExpression listening(
      QStringLiteral("^kov-simulator listening on (https?://127\\.0\\.0\\.1:[0-9]+/wqmi3/pos\\.aspx)"));
  const QRegularExpressionMatch match = listening.match(QString::fromUtf8(first));
  if (match.hasMatch()) {
    _url = match.captured(1);
  }
  // Anything it prints later is dropped as it comes.
  QObject::connect(&_process, &QProcess::readyReadStandardOutput, &_process,
                   [this] { _process.readAllStandardOutput(); });
}

BenchSimulator::~BenchSimulator() {
  if (_process.state() != QProcess::NotRunning) {
    _process.terminate();
    if (!_process.waitForFinished(10000)) {
      _process.kill();
      _process.waitForFinished(5000);
    }
  }
}

QString BenchSimulator::caFile() const { return _certDir ? _certDir->filePath(QStringLiteral("ca.pem")) : QString(); }

QJsonObject BenchSimulator::stats() const {
  if (_url.isEmpty()) {
    return {};
  }
  QUrl url(_url);
  url.setPath(QStringLiteral("/_sim/stats"));
  QNetworkRequest request(url);
  if (url.scheme() == QLatin1String("https")) {
    QSslConfiguration ssl = QSslConfiguration::defaultConfiguration();
    QFile pem(caFile());
    if (pem.open(QIODevice::ReadOnly)) {
      ssl.addCaCertificates(QSslCertificate::fromData(pem.readAll(), QSsl::Pem));
    }
    request.setSslConfiguration(ssl);
  }
  QNetworkAccessManager manager;
  QNetworkReply* reply = manager.get(request);
  QEventLoop loop;
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
  QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
  deadline.start(10000);
  if (!reply->isFinished()) {
    loop.exec();
  }
  QJsonObject out;
  if (reply->isFinished() && reply->error() == QNetworkReply::NoError) {
    out = QJsonDocument::fromJson(reply->readAll()).object();
  }
  reply->abort();
  return out;  // the manager takes the reply with it
}

long long BenchSimulator::connections() const {
  const QJsonObject s = stats();
  return s.contains(QStringLiteral("connections")) ? s.value(QStringLiteral("connections")).toInteger() - 1 : -1;
}

}  // namespace kovbench
