// TLS is always verified: an unknown CA, a certificate for another host, an expired one and a
// server that offers only TLS 1.0/1.1 each fail at the URL layer, before any byte of the
// request (and with it the merchant key) is sent. Plain http goes only to loopback.
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <gtest/gtest.h>

#include <QSslCertificate>
#include <QSslKey>
#include <QTemporaryFile>

#include <memory>
#include <string>

#include "TestCertificate.h"
#include "EngineRun.h"
#include "OldTlsServer.h"
#include "QtTestSupport.h"
#include "TestHttpServer.h"

namespace kovrel {

using Certificate = kovtest::TestCertificate;
using kovtest::makeCertificate;
namespace {

const QByteArray kApproved = "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC></Result></Scr>";

class Tls : public testing::Test {
 protected:
  void TearDown() override { KOVQtTransport::clearTrustedCertificates(); }

  void trust(const Certificate& certificate) {
    auto file = std::make_unique<QTemporaryFile>();
    ASSERT_TRUE(file->open());
    file->write(certificate.certificatePem);
    file->flush();
    std::string why;
    ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(file->fileName().toStdString(), &why)) << why;
    files_.push_back(std::move(file));
  }

  // Serves with the certificate; the handler would approve anything that got through.
  void serve(const Certificate& certificate) {
    server.useTls(QSslCertificate(certificate.certificatePem), QSslKey(certificate.privateKeyPem, QSsl::Ec));
    server.setHandler([](const kovtest::HttpRequest&) { return kovtest::ServerAction::answer(kApproved); });
    ASSERT_TRUE(server.start());
  }

  std::string httpsUrl(int port) const { return "https://127.0.0.1:" + std::to_string(port) + "/wqmi3/pos.aspx"; }
  std::string httpsUrl() const { return server.url().replace("http://", "https://").toStdString(); }

  // One request posted straight through a session: the error it ends with.
  std::optional<KOVError> postOnce(const std::string& url) {
    auto session = KOVQtTransport::sessionFactory()();
    bool done = false;
    std::optional<KOVError> error;
    session->post(url, std::string("<Scr key=\"") + kTestKey + "\"/>", 10.0,
                  [&](const std::optional<std::string>&, const std::optional<KOVURLResponse>&,
                      const std::optional<KOVError>& e) {
                    error = e;
                    done = true;
                  });
    EXPECT_TRUE(kovtest::waitUntil([&] { return done; }));
    return error;
  }

  // A whole transaction against url ends in the time-out result after nine failures, and
  // nothing the host sees holds the key.
  void expectTransactionTimesOut(const std::string& url) {
    EngineRun run(url);
    run.start();
    ASSERT_TRUE(run.waitForResult(30000));
    run.settleAfterResult();
    ASSERT_EQ(run.results().size(), 1u);
    EXPECT_EQ(run.results()[0].transactionResult, KOVTransactionResultTimeout);
    EXPECT_EQ(run.logOf(KOVTransactionLogEntryRequestContent).size(), 9u);
    EXPECT_EQ(findKey(run.everythingReported()), "");
  }

  kovtest::TestHttpServer server;
  std::vector<std::unique_ptr<QTemporaryFile>> files_;
};

TEST_F(Tls, TrustedValidCertificateWorksSoTheRefusalsBelowAreForTheirOwnReason) {
  const Certificate certificate = makeCertificate({});
  trust(certificate);
  serve(certificate);
  EngineRun run(httpsUrl());
  run.start();
  ASSERT_TRUE(run.waitForResult());
  EXPECT_EQ(run.results()[0].transactionResult, KOVTransactionResultSucceeded);
  ASSERT_GE(server.requests().size(), 1u);
  EXPECT_TRUE(server.requests()[0].body.contains(QByteArray("key=\"k3y&amp;&lt;&quot;s%2F\"")));
}

TEST_F(Tls, UnknownCertificateAuthorityIsRefusedBeforeTheRequest) {
  serve(makeCertificate({}));  // valid for 127.0.0.1, but nobody trusts it
  const auto error = postOnce(httpsUrl());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, NSURLErrorDomain);
  EXPECT_EQ(error->code, NSURLErrorServerCertificateUntrusted);
  EXPECT_EQ(findKey(error->description), "");
  expectTransactionTimesOut(httpsUrl());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(server.bytesReceived(), 0);
}

TEST_F(Tls, CertificateForAnotherHostIsRefusedBeforeTheRequest) {
  const Certificate certificate = makeCertificate({.subjectAltName = "DNS:pay.example.com,IP:10.9.8.7"});
  trust(certificate);
  serve(certificate);
  const auto error = postOnce(httpsUrl());
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, NSURLErrorDomain);
  EXPECT_TRUE(error->code == NSURLErrorServerCertificateUntrusted || error->code == NSURLErrorSecureConnectionFailed)
      << error->code << " " << error->description;
  expectTransactionTimesOut(httpsUrl());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(server.bytesReceived(), 0);
}

TEST_F(Tls, ExpiredCertificateIsRefusedBeforeTheRequest) {
  const Certificate certificate = makeCertificate({.notBeforeSeconds = -2 * 86400, .notAfterSeconds = -86400});
  trust(certificate);
  serve(certificate);
  const auto error = postOnce(httpsUrl());
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->code == NSURLErrorServerCertificateUntrusted || error->code == NSURLErrorSecureConnectionFailed)
      << error->code << " " << error->description;
  expectTransactionTimesOut(httpsUrl());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(server.bytesReceived(), 0);
}

TEST_F(Tls, ServerOfferingOnlyTls10And11IsRefusedBeforeTheRequest) {
  const Certificate certificate = makeCertificate({});
  trust(certificate);  // the certificate is fine; only the protocol is too old
  OldTlsServer old(certificate.certificatePem, certificate.privateKeyPem);
  ASSERT_TRUE(old.listening());
  const auto error = postOnce(httpsUrl(old.port()));
  ASSERT_TRUE(error);
  EXPECT_EQ(error->domain, NSURLErrorDomain);
  EXPECT_EQ(error->code, NSURLErrorSecureConnectionFailed) << error->description;
  expectTransactionTimesOut(httpsUrl(old.port()));
  EXPECT_GE(old.connections(), 1);
  EXPECT_EQ(old.handshakesCompleted(), 0);
  EXPECT_EQ(old.applicationBytes(), 0);
}

TEST(PlainHttp, ToAHostOtherThanLoopbackIsRefusedBeforeAnyConnection) {
  WqKOV engine;
  KOVQtTransport::install(engine);
  const std::string before = engine.endpointUrl(true);
  for (const char* url : {"http://192.0.2.10/wqmi3/pos.aspx", "http://pay.example.com/wqmi3/pos.aspx",
                          "http://127.0.0.1.example.com/wqmi3/pos.aspx", "http://localhost.example.com:80/x",
                          "http://[2001:db8::1]/wqmi3/pos.aspx"}) {
    SCOPED_TRACE(url);
    std::string why;
    EXPECT_FALSE(WqKOV::isAcceptableEndpointUrl(url, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(engine.setEndpointUrls(url, url));
    EXPECT_EQ(engine.endpointUrl(true), before);
  }
  // The session itself refuses too, at once: a TEST-NET address would otherwise hang until
  // the time-out, so an answer well within it shows no connection was tried.
  auto session = KOVQtTransport::sessionFactory()();
  std::optional<KOVError> error;
  bool done = false;
  session->post("http://192.0.2.10:8080/wqmi3/pos.aspx", std::string("<Scr key=\"") + kTestKey + "\"/>", 30.0,
                [&](const std::optional<std::string>&, const std::optional<KOVURLResponse>&,
                    const std::optional<KOVError>& e) {
                  error = e;
                  done = true;
                });
  ASSERT_TRUE(kovtest::waitUntil([&] { return done; }, 5000));
  ASSERT_TRUE(error);
  EXPECT_TRUE(error->code == NSURLErrorUnsupportedURL || error->code == NSURLErrorBadURL) << error->code;
  EXPECT_EQ(findKey(error->description), "");
}

}  // namespace
}  // namespace kovrel
