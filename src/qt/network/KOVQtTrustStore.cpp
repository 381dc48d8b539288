#include "KOVQtTrustStore.h"

#include <QFile>
#include <QSet>
#include <QSslSocket>

#include <mutex>

namespace kovqt {
namespace {

struct TrustStore {
  std::mutex mutex;
  QList<QSslCertificate> certificates;
};

TrustStore& store() {
  static TrustStore instance;
  return instance;
}

void setWhy(std::string* why, std::string text) {
  if (why) {
    *why = std::move(text);
  }
}

}  // namespace

bool addTrustedCertificates(const std::string& pemFilePath, std::string* why) {
  QFile file(QString::fromStdString(pemFilePath));
  if (!file.open(QIODevice::ReadOnly)) {
    setWhy(why, "cannot read " + pemFilePath + ": " + file.errorString().toStdString());
    return false;
  }
  // A trust file is small; anything far larger is not one.
  constexpr qint64 kMaxPemBytes = 16 * 1024 * 1024;
  const QByteArray pem = file.read(kMaxPemBytes + 1);
  if (pem.size() > kMaxPemBytes) {
    setWhy(why, pemFilePath + " is too large for a certificate file");
    return false;
  }
  QList<QSslCertificate> found;
  for (const QSslCertificate& certificate : QSslCertificate::fromData(pem, QSsl::Pem)) {
    if (!certificate.isNull()) {
      found.append(certificate);
    }
  }
  if (found.isEmpty()) {
    setWhy(why, pemFilePath + " holds no PEM certificate");
    return false;
  }
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  for (const QSslCertificate& certificate : found) {
    if (!trust.certificates.contains(certificate)) {
      trust.certificates.append(certificate);
    }
  }
  return true;
}

void clearTrustedCertificates() {
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  trust.certificates.clear();
}

QList<QSslCertificate> trustedCertificates() {
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  return trust.certificates;
}

QSslConfiguration sessionSslConfiguration() {
  QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
  const QList<QSslCertificate> added = trustedCertificates();
  if (added.isEmpty()) {
    return configuration;  // the system store, loaded by Qt as it needs it
  }
  // Setting authorities explicitly stops Qt's on-demand loading of the system store, so
  // the system's authorities are listed along with the added ones.
  QList<QSslCertificate> authorities;
  QSet<QSslCertificate> seen;
  for (const QList<QSslCertificate>& source :
       {configuration.caCertificates(), QSslConfiguration::systemCaCertificates(), added}) {
    for (const QSslCertificate& certificate : source) {
      if (!seen.contains(certificate)) {
        seen.insert(certificate);
        authorities.append(certificate);
      }
    }
  }
  configuration.setCaCertificates(authorities);
  configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
  return configuration;
}

}  // namespace kovqt
