#pragma once
// Certificates made at test time with OpenSSL: self-signed, with the names and validity a
// test asks for, so each TLS refusal has exactly one reason.
#include <QByteArray>

namespace kovtest {

struct CertificateOptions {
  const char* subjectAltName = "IP:127.0.0.1";
  long notBeforeSeconds = -3600;  // relative to now
  long notAfterSeconds = 24 * 3600;
};

struct TestCertificate {
  QByteArray certificatePem;
  QByteArray privateKeyPem;  // EC P-256
};

/// A new key and a self-signed CA certificate with the given names and validity.
TestCertificate makeCertificate(const CertificateOptions& options);
/// A new key and a certificate valid for a day, for the IP address 127.0.0.1.
TestCertificate makeSelfSignedCertificate();

}  // namespace kovtest
