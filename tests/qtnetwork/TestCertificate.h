#pragma once
// A self-signed certificate for 127.0.0.1, made fresh for each test run.
#include <QByteArray>

namespace kovtest {

struct TestCertificate {
  QByteArray certificatePem;
  QByteArray privateKeyPem;  // EC P-256
};

/// A new key and a certificate valid for a day, for the IP address 127.0.0.1.
TestCertificate makeSelfSignedCertificate();

}  // namespace kovtest
