#include "BridgeRouter.h"

#include <array>
#include <cstdio>
#include <utility>

namespace kovbridge {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A path (or a transaction's action, the last part of its path), its route and its method.
struct Known {
  std::string_view path;
  BridgeRoute route;
  std::string_view method;
};

constexpr std::array<Known, 5> kActions{{
    {"events", BridgeRoute::Events, "GET"},
    {"press", BridgeRoute::Press, "POST"},
    {"cancel", BridgeRoute::Cancel, "POST"},
    {"recover", BridgeRoute::Recover, "POST"},
    {"acknowledge", BridgeRoute::Acknowledge, "POST"},
}};

constexpr std::array<Known, 4> kFixed{{
    {"/healthz", BridgeRoute::Health, "GET"},
    {"/metrics", BridgeRoute::Metrics, "GET"},
    {"/v1/pending", BridgeRoute::Pending, "GET"},
    {"/v1/transactions", BridgeRoute::Start, "POST"},
}};

BridgeTarget checked(BridgeRoute route, std::string_view wanted, std::string_view method) {
  BridgeTarget target;
  target.route = method == wanted ? route : BridgeRoute::MethodNotAllowed;
  target.allowed = wanted;
  return target;
}

}  // namespace

bool percentDecode(std::string_view text, std::string& decoded) {
  decoded.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) return false;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    if (c == '\0') return false;
    decoded.push_back(c);
  }
  return true;
}

std::string percentEncode(std::string_view text) {
  std::string encoded;
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || c == '-' || c == '.' ||
        c == '_' || c == '~') {
      encoded.push_back(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "%%%02X", u);
      encoded += escape;
    }
  }
  return encoded;
}

BridgeTarget routeOf(std::string_view method, std::string_view target, bool serving) {
  const std::string_view path = target.substr(0, target.find('?'));
  for (const Known& fixed : kFixed) {
    if (path == fixed.path) return checked(fixed.route, fixed.method, method);
  }
  constexpr std::string_view kTransactions = "/v1/transactions/";
  if (path.starts_with(kTransactions)) {
    const std::string_view rest = path.substr(kTransactions.size());
    const std::size_t slash = rest.find('/');
    std::string txnRef;
    if (slash == std::string_view::npos || slash == 0 || !percentDecode(rest.substr(0, slash), txnRef)) {
      return {};
    }
    for (const Known& action : kActions) {
      if (rest.substr(slash + 1) == action.path) {
        BridgeTarget routed = checked(action.route, action.method, method);
        routed.txnRef = std::move(txnRef);
        return routed;
      }
    }
    return {};
  }
  if (serving && !path.starts_with("/v1/")) {
    BridgeTarget routed = checked(BridgeRoute::Static, "GET", method);
    if (routed.route == BridgeRoute::Static && !percentDecode(path, routed.filePath)) return {};
    return routed;
  }
  return {};
}

}  // namespace kovbridge
