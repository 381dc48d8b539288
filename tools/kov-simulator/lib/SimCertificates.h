#pragma once
#include <optional>
#include <string>

namespace kovsim {

/// The server certificate a test set holds: one a client trusting the test CA accepts, or
/// one it must refuse.
enum class SimCertificateKind {
  Valid,      ///< issued by the test CA for 127.0.0.1 and localhost
  UnknownCa,  ///< for 127.0.0.1 and localhost, issued by another CA that is never written
  WrongHost,  ///< issued by the test CA for pay.example.com only
  Expired,    ///< issued by the test CA for 127.0.0.1 and localhost, expired yesterday
};

/// The files of a fresh test certificate set.
struct SimCertificateFiles {
  std::string caCertificate;      ///< "ca.pem": the test CA a client is told to trust
  std::string serverCertificate;  ///< "server.pem": the server's certificate, of the kind asked for
  std::string serverKey;          ///< "server-key.pem": the server's private key (mode 0600)
};

/// Generates a new test CA and a server certificate of the kind and writes them into dir,
/// creating it when missing. The CAs' own keys are never written, so nothing else can be
/// signed with them. nullopt with the reason in error when something fails.
std::optional<SimCertificateFiles> writeTestCertificates(const std::string& dir, SimCertificateKind kind,
                                                         std::string& error);

}  // namespace kovsim
