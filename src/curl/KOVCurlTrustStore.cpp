#include "KOVCurlTrustStore.h"

#include "KOVCurlSession.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string_view>
#include <vector>

namespace kovcurl {
namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
// A trust file is small; anything far larger is not one.
constexpr std::size_t kMaxPemBytes = 16 * 1024 * 1024;

struct TrustStore {
  std::mutex mutex;
  std::vector<std::string> certificates;  // PEM blocks, each once
  std::shared_ptr<const std::string> bundle;
  uint64_t generation = 0;
};

TrustStore& store() {
  static TrustStore instance;
  return instance;
}

void setWhy(std::string* why, std::string text) {
  if (why) {
    *why = std::move(text);
  }
}

bool isBase64(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
         c == '=';
}

// A block whose content is base64 of a DER sequence ("MI": 0x30 with a long length) is a
// certificate curl can load; anything else would fail every later handshake instead.
bool isCertificateBody(std::string_view body) {
  std::string compact;
  for (const char c : body) {
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      continue;
    }
    if (!isBase64(c)) {
      return false;
    }
    compact += c;
  }
  return compact.size() >= 64 && compact.size() % 4 == 0 && compact.compare(0, 2, "MI") == 0;
}

std::vector<std::string> certificateBlocks(std::string_view text) {
  std::vector<std::string> blocks;
  std::size_t at = 0;
  while ((at = text.find(kBegin, at)) != std::string_view::npos) {
    const std::size_t bodyStart = at + kBegin.size();
    const std::size_t end = text.find(kEnd, bodyStart);
    if (end == std::string_view::npos) {
      break;
    }
    if (isCertificateBody(text.substr(bodyStart, end - bodyStart))) {
      std::string block(kBegin);
      block.append(text.substr(bodyStart, end - bodyStart));
      block.append(kEnd);
      block += '\n';
      blocks.push_back(std::move(block));
    }
    at = end + kEnd.size();
  }
  return blocks;
}

// What the added certificates must be joined with to keep the system's authorities. Added
// authorities replace curl's CA file but not its CA directory: where curl has a directory
// (Debian's does), it still finds the system's authorities there and nothing is needed;
// otherwise its bundle file goes first.
std::string systemBundleUnlessDirectory() {
  KOVCurlSession::initialiseCurl();
  CURL* probe = curl_easy_init();
  if (!probe) {
    return {};
  }
  char* directory = nullptr;
  char* path = nullptr;
  std::string bundle;
  const bool hasDirectory = curl_easy_getinfo(probe, CURLINFO_CAPATH, &directory) == CURLE_OK && directory &&
                            std::filesystem::is_directory(directory);
  if (!hasDirectory && curl_easy_getinfo(probe, CURLINFO_CAINFO, &path) == CURLE_OK && path) {
    std::ifstream file(path, std::ios::binary);
    bundle.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    if (!bundle.empty() && bundle.back() != '\n') {
      bundle += '\n';
    }
  }
  curl_easy_cleanup(probe);
  return bundle;
}

}  // namespace

bool addTrustedCertificatesPem(const std::string& pemText, std::string* why) {
  const std::vector<std::string> found = certificateBlocks(pemText);
  if (found.empty()) {
    setWhy(why, "no PEM certificate found");
    return false;
  }
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  bool added = false;
  for (const std::string& certificate : found) {
    if (std::find(trust.certificates.begin(), trust.certificates.end(), certificate) == trust.certificates.end()) {
      trust.certificates.push_back(certificate);
      added = true;
    }
  }
  if (!added) {
    return true;  // trusted already: sessions made before stay as good as new ones
  }
  ++trust.generation;
  std::string bundle = systemBundleUnlessDirectory();
  for (const std::string& certificate : trust.certificates) {
    bundle += certificate;
  }
  trust.bundle = std::make_shared<const std::string>(std::move(bundle));
  return true;
}

bool addTrustedCertificatesFile(const std::string& pemFilePath, std::string* why) {
  std::ifstream file(pemFilePath, std::ios::binary);
  if (!file) {
    setWhy(why, "cannot read " + pemFilePath + ": " + std::strerror(errno));
    return false;
  }
  std::string pem(kMaxPemBytes + 1, '\0');
  file.read(pem.data(), static_cast<std::streamsize>(pem.size()));
  pem.resize(static_cast<std::size_t>(file.gcount()));
  if (file.bad()) {
    setWhy(why, "cannot read " + pemFilePath);
    return false;
  }
  if (pem.size() > kMaxPemBytes) {
    setWhy(why, pemFilePath + " is too large for a certificate file");
    return false;
  }
  if (!addTrustedCertificatesPem(pem, nullptr)) {
    setWhy(why, pemFilePath + " holds no PEM certificate");
    return false;
  }
  return true;
}

void clearTrustedCertificates() {
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  if (trust.certificates.empty()) {
    return;
  }
  trust.certificates.clear();
  trust.bundle.reset();
  ++trust.generation;
}

SessionAuthorities sessionAuthorities() {
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  return {trust.bundle, trust.generation};
}

uint64_t trustGeneration() {
  TrustStore& trust = store();
  const std::lock_guard lock(trust.mutex);
  return trust.generation;
}

}  // namespace kovcurl
