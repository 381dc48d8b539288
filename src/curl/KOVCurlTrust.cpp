#include <KOVModule/KOVCurlTrust.h>

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

namespace {

constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
// A trust file is small; anything far larger is not one.
constexpr std::size_t kMaxPemBytes = 16 * 1024 * 1024;

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
  kovcurl::KOVCurlSession::initialiseCurl();
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

KOVCurlTrust::KOVCurlTrust() = default;

KOVCurlTrust::~KOVCurlTrust() = default;

std::shared_ptr<KOVCurlTrust> KOVCurlTrust::process() {
  // The process's own, shared by every session that names no other, for as long as it runs.
  static const std::shared_ptr<KOVCurlTrust> instance = std::make_shared<KOVCurlTrust>();
  return instance;
}

bool KOVCurlTrust::addPem(const std::string& pemText, std::string* why) {
  const std::vector<std::string> found = certificateBlocks(pemText);
  if (found.empty()) {
    setWhy(why, "no PEM certificate found");
    return false;
  }
  const std::lock_guard lock(_mutex);
  bool added = false;
  for (const std::string& certificate : found) {
    if (std::find(_certificates.begin(), _certificates.end(), certificate) == _certificates.end()) {
      _certificates.push_back(certificate);
      added = true;
    }
  }
  if (!added) {
    return true;  // trusted already: sessions made before stay as good as new ones
  }
  ++_generation;
  std::string bundle = systemBundleUnlessDirectory();
  for (const std::string& certificate : _certificates) {
    bundle += certificate;
  }
  _bundle = std::make_shared<const std::string>(std::move(bundle));
  return true;
}

bool KOVCurlTrust::addFile(const std::string& pemFilePath, std::string* why) {
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
  if (!addPem(pem, nullptr)) {
    setWhy(why, pemFilePath + " holds no PEM certificate");
    return false;
  }
  return true;
}

void KOVCurlTrust::clear() {
  const std::lock_guard lock(_mutex);
  if (_certificates.empty()) {
    return;
  }
  _certificates.clear();
  _bundle.reset();
  ++_generation;
}

std::shared_ptr<const std::string> KOVCurlTrust::bundle() const {
  const std::lock_guard lock(_mutex);
  return _bundle;
}

uint64_t KOVCurlTrust::generation() const {
  const std::lock_guard lock(_mutex);
  return _generation;
}
