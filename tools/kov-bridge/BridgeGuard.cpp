#include "BridgeGuard.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>

namespace kovbridge {
namespace {

constexpr std::array<std::string_view, 3> kLoopbackNames{"localhost", "127.0.0.1", "[::1]"};

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; });
  return out;
}

}  // namespace

BridgeGuard::BridgeGuard(std::string token, std::vector<std::string> allowedOrigins, std::vector<std::string> allowedHosts)
    : _token(std::move(token)), _origins(std::move(allowedOrigins)) {
  for (const std::string& host : allowedHosts) _hosts.push_back(lower(host));
}

std::string BridgeGuard::hostName(std::string_view host) {
  if (host.starts_with('[')) {
    const std::size_t close = host.find(']');
    return close == std::string_view::npos ? std::string() : lower(host.substr(0, close + 1));
  }
  const std::size_t colon = host.find(':');
  return lower(host.substr(0, colon));
}

bool BridgeGuard::sameSecret(std::string_view given, std::string_view secret) {
  // Only the length can be learnt from the time taken, and every token has the same one.
  return given.size() == secret.size() && CRYPTO_memcmp(given.data(), secret.data(), secret.size()) == 0;
}

bool BridgeGuard::hostAllowed(std::string_view host) const {
  const std::string name = hostName(host);
  if (name.empty()) return false;
  return std::find(kLoopbackNames.begin(), kLoopbackNames.end(), name) != kLoopbackNames.end() ||
         std::find(_hosts.begin(), _hosts.end(), name) != _hosts.end();
}

BridgeVerdict BridgeGuard::check(const BridgeAsk& ask) const {
  BridgeVerdict verdict;
  verdict.headers.emplace_back("Vary", "Origin");
  if (!ask.host || !hostAllowed(*ask.host)) {
    verdict.status = 403;
    verdict.error = "the Host header does not name this bridge";
    return verdict;
  }
  const bool listed =
      ask.origin && std::find(_origins.begin(), _origins.end(), *ask.origin) != _origins.end();
  if (listed) {
    verdict.headers.emplace_back("Access-Control-Allow-Origin", std::string(*ask.origin));
  }
  if (ask.method == "OPTIONS" && ask.preflight) {
    // A preflight carries no token by design; another origin learns nothing from the answer.
    verdict.status = 204;
    if (listed) {
      verdict.headers.emplace_back("Access-Control-Allow-Methods", "GET, POST");
      verdict.headers.emplace_back("Access-Control-Allow-Headers", "Authorization, Content-Type");
      verdict.headers.emplace_back("Access-Control-Max-Age", "600");
    }
    return verdict;
  }
  if (ask.open) return verdict;
  constexpr std::string_view kBearer = "Bearer ";
  const bool bearer = ask.authorization && ask.authorization->size() > kBearer.size() &&
                      lower(ask.authorization->substr(0, kBearer.size())) == lower(kBearer);
  if (!bearer || !sameSecret(ask.authorization->substr(kBearer.size()), _token)) {
    verdict.status = 401;
    verdict.error = bearer ? "the token is not this bridge's" : "the bridge's token is needed: Authorization: Bearer TOKEN";
    verdict.headers.emplace_back("WWW-Authenticate", "Bearer");
  }
  return verdict;
}

}  // namespace kovbridge
