// https with the test CA the simulator writes at start.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "SimTestSupport.h"

using namespace simtest;

namespace {

std::filesystem::path freshDirectory() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kov-sim-certs-XXXXXX").string();
  EXPECT_NE(mkdtemp(pattern.data()), nullptr);
  return pattern;
}

}  // namespace

TEST(SimTls, ClientsTrustingTheWrittenCaConnectByAddressAndNameOthersFail) {
  const std::filesystem::path dir = freshDirectory();
  kovsim::SimConfig config = fastConfig();
  config.tls = true;
  config.certDir = (dir / "certs").string();  // created when missing
  {
    RunningSimulator sim(config);
    const int port = sim.server().port();
    EXPECT_EQ(sim.server().url(), "https://127.0.0.1:" + std::to_string(port) + "/wqmi3/pos.aspx");
    const auto& files = sim.server().certificates();
    ASSERT_TRUE(files);
    EXPECT_EQ(files->caCertificate, (dir / "certs" / "ca.pem").string());
    struct stat keyInfo {};
    ASSERT_EQ(stat(files->serverKey.c_str(), &keyInfo), 0);
    EXPECT_EQ(keyInfo.st_mode & 0777, 0600u);

    for (const char* host : {"127.0.0.1", "localhost"}) {
      httplib::SSLClient trusting(host, port);
      trusting.set_ca_cert_path(files->caCertificate.c_str());
      trusting.enable_server_certificate_verification(true);
      const auto answer = trusting.Post(kovsim::SimServer::kEndpointPath, request("Purchase", host, host), "text/xml");
      ASSERT_TRUE(answer) << host << ": " << httplib::to_string(answer.error());
      EXPECT_EQ(at(parse(answer->body), "Scr/DL1"), "PRESENT/INSERT CARD");
    }
    EXPECT_FALSE(sim.post(request("Status", "127.0.0.1")));  // no plain http

    httplib::SSLClient untrusting("127.0.0.1", port);
    untrusting.enable_server_certificate_verification(true);
    const auto refused = untrusting.Post(kovsim::SimServer::kEndpointPath, request("Status", "T-tls"), "text/xml");
    EXPECT_FALSE(refused);
    EXPECT_EQ(refused.error(), httplib::Error::SSLServerVerification);
  }
  std::filesystem::remove_all(dir);
}

TEST(SimTls, OldTlsServesOnlyTls10And11) {
  const std::filesystem::path dir = freshDirectory();
  kovsim::SimConfig config = fastConfig();
  config.tls = true;
  config.oldTls = true;
  config.certDir = dir.string();
  {
    RunningSimulator sim(config);
    for (const bool old : {true, false}) {
      httplib::SSLClient client("127.0.0.1", sim.server().port());
      client.enable_server_certificate_verification(false);  // the protocol alone is looked at
      if (old) {
        SSL_CTX_set_security_level(client.ssl_context(), 0);
        SSL_CTX_set_max_proto_version(client.ssl_context(), TLS1_1_VERSION);
      }
      EXPECT_EQ(static_cast<bool>(client.Get("/_sim/stats")), old);
    }
  }
  std::filesystem::remove_all(dir);
}
