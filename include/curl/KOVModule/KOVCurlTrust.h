#pragma once
#include <KOVModule/KOVExport.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

/// Certificates trusted beyond the system store, for the sessions of the factories given them:
/// one of the process (KOVCurlTransport::addTrustedCertificates), or one of a host's own, such
/// as each C client has. A session takes the certificates as they are when it is made, and is
/// not reused for a later transaction once they have changed. Safe from any thread.
class KOV_CURL_EXPORT KOVCurlTrust {
 public:
  KOVCurlTrust();
  ~KOVCurlTrust();
  KOVCurlTrust(const KOVCurlTrust&) = delete;
  KOVCurlTrust& operator=(const KOVCurlTrust&) = delete;

  /// The process-wide certificates, which sessions of KOVCurlTransport::sessionFactory(loop) use.
  static std::shared_ptr<KOVCurlTrust> process();

  /// Adds the certificates of a PEM file; false (and why) when it holds none or is unreadable.
  bool addFile(const std::string& pemFilePath, std::string* why = nullptr);
  /// Adds the certificates of PEM text; false (and why) when it holds none.
  bool addPem(const std::string& pemText, std::string* why = nullptr);
  /// Forgets every added certificate (the system store stays).
  void clear();

  /// What a new session verifies servers with: null while nothing was added (curl's system
  /// store then), else the added certificates as PEM, after the system bundle when curl has no
  /// CA directory that holds the system's authorities.
  std::shared_ptr<const std::string> bundle() const;
  /// Changes whenever the certificates do.
  uint64_t generation() const;

 private:
  mutable std::mutex _mutex;
  std::vector<std::string> _certificates;  // PEM blocks, each once
  std::shared_ptr<const std::string> _bundle;
  uint64_t _generation = 0;
};
