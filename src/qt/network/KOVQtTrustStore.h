#pragma once
// The certificates trusted beyond the system store, a process-wide setting of the transport.
#include <string>

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace kovqt {

/// Adds the certificates of a PEM file; false (and why) when it holds none or is unreadable.
bool addTrustedCertificates(const std::string& pemFilePath, std::string* why);
/// Forgets every added certificate.
void clearTrustedCertificates();
/// The added certificates, as they are now.
QList<QSslCertificate> trustedCertificates();
/// The TLS settings of a new session: the default configuration (system store, peer
/// verification), plus the added certificates as further authorities.
QSslConfiguration sessionSslConfiguration();

}  // namespace kovqt
