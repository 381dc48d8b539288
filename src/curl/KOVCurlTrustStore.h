#pragma once
// The certificates trusted beyond the system store, a process-wide setting of the transport.
#include <cstdint>
#include <memory>
#include <string>

namespace kovcurl {

/// Adds the certificates of PEM text; false (and why) when it holds none.
bool addTrustedCertificatesPem(const std::string& pemText, std::string* why);
/// Adds the certificates of a PEM file; false (and why) when it holds none or is unreadable.
bool addTrustedCertificatesFile(const std::string& pemFilePath, std::string* why);
/// Forgets every added certificate.
void clearTrustedCertificates();
/// What a new session verifies servers with, as the settings stand when it is made.
struct SessionAuthorities {
  /// Besides curl's CA directory: null while nothing was added (curl's system store then),
  /// else the added certificates as PEM, after the system bundle when curl has no CA
  /// directory that holds the system's authorities.
  std::shared_ptr<const std::string> bundle;
  /// Changes whenever the trusted certificates do.
  uint64_t generation = 0;
};
SessionAuthorities sessionAuthorities();
/// The generation the trusted certificates are at now.
uint64_t trustGeneration();

}  // namespace kovcurl
