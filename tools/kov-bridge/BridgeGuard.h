#pragma once
// Whether a request may reach the till, and the CORS headers its answer carries.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kovbridge {

/// What the guard is told of a request: its headers as they came (none when absent).
struct BridgeAsk {
  std::string_view method;
  std::optional<std::string_view> host;
  std::optional<std::string_view> origin;
  std::optional<std::string_view> authorization;
  /// Access-Control-Request-Method: with OPTIONS, a CORS preflight.
  bool preflight = false;
  /// The route needs no token (/healthz, the served page).
  bool open = false;
};

/// The guard's decision: the answer to give instead of serving (status 0: serve it), and the
/// headers every answer to the request carries.
struct BridgeVerdict {
  int status = 0;
  std::string error;
  std::vector<std::pair<std::string, std::string>> headers;
};

/// The bridge's checks of a request, made before anything else: the Host header names this
/// machine's loopback or a listed name (so that a page of another site cannot reach the
/// bridge by rebinding its own name to 127.0.0.1), CORS answers listed origins only, and every
/// call but the open ones carries the bearer token.
class BridgeGuard {
 public:
  BridgeGuard(std::string token, std::vector<std::string> allowedOrigins, std::vector<std::string> allowedHosts);

  BridgeVerdict check(const BridgeAsk& ask) const;

  /// The host name of a Host header, without its port, lower-cased ("[::1]" keeps its brackets).
  static std::string hostName(std::string_view host);
  /// Equal texts, compared in a time that does not depend on where they differ.
  static bool sameSecret(std::string_view given, std::string_view secret);

 private:
  bool hostAllowed(std::string_view host) const;

  std::string _token;
  std::vector<std::string> _origins;
  std::vector<std::string> _hosts;
};

}  // namespace kovbridge
