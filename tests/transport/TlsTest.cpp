// TLS is always verified: against the system store, plus certificates the host adds.
#include <KOVModule/KOVCurlTransport.h>

#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryDir>

#include <fstream>

#include "SessionFixture.h"
#include "TestCertificate.h"

namespace kovtest {
namespace {

class Tls : public SessionFixture {
 protected:
  void SetUp() override {
    KOVQtTransport::clearTrustedCertificates();
    generated = makeSelfSignedCertificate();
    server.useTls(QSslCertificate(generated.certificatePem, QSsl::Pem), QSslKey(generated.privateKeyPem, QSsl::Ec));
    ASSERT_TRUE(dir.isValid());
    SessionFixture::SetUp();
  }
  void TearDown() override {
    SessionFixture::TearDown();
    KOVQtTransport::clearTrustedCertificates();
  }
  std::string writeFile(const char* name, const QByteArray& content) const {
    const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
    std::ofstream(path, std::ios::binary).write(content.constData(), content.size());
    return path;
  }
  void newSession() { session = KOVQtTransport::sessionFactory()(); }

  TestCertificate generated;
  QTemporaryDir dir;
};

TEST_F(Tls, UntrustedCertificateFailsBeforeAnyByteOfTheBodyIsSent) {
  post("<Scr key=\"secret\"/>");
  ASSERT_TRUE(recorder.waitFor(1));
  ASSERT_TRUE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].error->domain, NSURLErrorDomain);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorServerCertificateUntrusted);
  EXPECT_EQ(recorder.calls[0].error->description, "The server's certificate is not trusted.");
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(server.bytesReceived(), 0);
}

TEST_F(Tls, AddedCertificateIsTrustedBySessionsMadeAfterwardsUntilCleared) {
  const std::string pem = writeFile("ca.pem", generated.certificatePem);
  std::string why;
  ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(pem, &why)) << why;

  // The session made before the certificate was added keeps its settings.
  post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(1));
  ASSERT_TRUE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorServerCertificateUntrusted);

  newSession();
  post("<Scr>over tls</Scr>");
  ASSERT_TRUE(recorder.waitFor(2));
  EXPECT_FALSE(recorder.calls[1].error) << recorder.calls[1].error->code;
  ASSERT_TRUE(recorder.calls[1].response);
  EXPECT_EQ(recorder.calls[1].response->statusCode, 200);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body, "<Scr>over tls</Scr>");

  KOVQtTransport::clearTrustedCertificates();
  newSession();
  post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(3));
  ASSERT_TRUE(recorder.calls[2].error);
  EXPECT_EQ(recorder.calls[2].error->code, NSURLErrorServerCertificateUntrusted);
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST_F(Tls, CertificateGivenInMemoryIsTrustedAndCarriesASessionsPostsOnOneConnection) {
  ASSERT_TRUE(KOVCurlTransport::addTrustedCertificatesPem(generated.certificatePem.toStdString()));
  newSession();
  for (std::size_t i = 1; i <= 5; ++i) {
    post("<Scr/>");
    ASSERT_TRUE(recorder.waitFor(i));
    ASSERT_FALSE(recorder.calls.back().error) << recorder.calls.back().error->code;
  }
  EXPECT_EQ(server.requests().size(), 5u);
  EXPECT_EQ(server.connectionsAccepted(), 1);
}

TEST_F(Tls, CertificateFilesWithoutCertificatesAreRefusedWithAReason) {
  std::string why;
  const std::string missing = dir.filePath(QStringLiteral("missing.pem")).toStdString();
  EXPECT_FALSE(KOVQtTransport::addTrustedCertificates(missing, &why));
  EXPECT_EQ(why.rfind("cannot read " + missing, 0), 0u) << why;

  const std::string keyOnly = writeFile("key.pem", generated.privateKeyPem);
  EXPECT_FALSE(KOVQtTransport::addTrustedCertificates(keyOnly, &why));
  EXPECT_EQ(why, keyOnly + " holds no PEM certificate");
  EXPECT_FALSE(KOVQtTransport::addTrustedCertificates(writeFile("empty.pem", QByteArray())));
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificatesPem(generated.privateKeyPem.toStdString(), &why));
  EXPECT_EQ(why, "no PEM certificate found");
  // A block that only looks like a certificate would fail every later handshake instead.
  EXPECT_FALSE(KOVCurlTransport::addTrustedCertificatesPem(
      "-----BEGIN CERTIFICATE-----\nnot base64!\n-----END CERTIFICATE-----\n"));

  // Nothing was added by the refusals.
  post("<Scr/>");
  ASSERT_TRUE(recorder.waitFor(1));
  ASSERT_TRUE(recorder.calls[0].error);
  EXPECT_EQ(recorder.calls[0].error->code, NSURLErrorServerCertificateUntrusted);
}

}  // namespace
}  // namespace kovtest
