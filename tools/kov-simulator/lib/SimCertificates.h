#pragma once
#include <optional>
#include <string>

namespace kovsim {

/// The files of a fresh test certificate set.
struct SimCertificateFiles {
  std::string caCertificate;      ///< "ca.pem": the test CA a client is told to trust
  std::string serverCertificate;  ///< "server.pem": issued by that CA for 127.0.0.1 and localhost
  std::string serverKey;          ///< "server-key.pem": the server's private key (mode 0600)
};

/// Generates a new test CA and a server certificate signed by it (subject alternative names
/// IP 127.0.0.1 and DNS localhost) and writes them into dir, creating it when missing.
/// The CA's own key is never written, so nothing else can be signed with it.
/// nullopt with the reason in error when something fails.
std::optional<SimCertificateFiles> writeTestCertificates(const std::string& dir, std::string& error);

}  // namespace kovsim
