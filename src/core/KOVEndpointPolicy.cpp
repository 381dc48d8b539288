// https anywhere, http only to loopback, never user information in the URL.
#include <KOVModule/KOVEndpointPolicy.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

bool startsWith(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string lowerAscii(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

}  // namespace

bool kov::EndpointPolicy::isLoopbackHost(const std::string& name) {
  const std::string host = lowerAscii(name);  // host names are case-insensitive
  if (host == "localhost" || host == "[::1]" || host == "::1") {
    return true;
  }
  // 127.0.0.0/8 written as four decimal numbers.
  int parts = 0;
  std::size_t pos = 0;
  while (pos <= host.size()) {
    const std::size_t dot = host.find('.', pos);
    const std::string part = host.substr(pos, dot == std::string::npos ? std::string::npos : dot - pos);
    if (part.empty() || part.size() > 3 || !std::all_of(part.begin(), part.end(), ::isdigit) ||
        std::stoi(part) > 255) {
      return false;
    }
    if (parts == 0 && part != "127") {
      return false;
    }
    ++parts;
    if (dot == std::string::npos) {
      break;
    }
    pos = dot + 1;
  }
  return parts == 4;
}

bool kov::EndpointPolicy::isAcceptable(const std::string& url, std::string* why) {
  auto refuse = [why](const char* reason) {
    if (why) {
      *why = reason;
    }
    return false;
  };
  if (std::any_of(url.begin(), url.end(), [](unsigned char c) { return c <= 0x20 || c >= 0x7F; })) {
    return refuse("the URL holds blanks, control or non-ASCII characters");
  }
  const std::string lowered = lowerAscii(url);
  const bool https = startsWith(lowered, "https://");
  const bool http = startsWith(lowered, "http://");
  if (!https && !http) {
    return refuse("only https URLs are accepted (http only for this machine)");
  }
  const std::size_t hostStart = https ? 8 : 7;
  const std::size_t hostEnd = std::min(url.find_first_of("/?#", hostStart), url.size());
  const std::string authority = lowered.substr(hostStart, hostEnd - hostStart);
  if (authority.find('@') != std::string::npos) {
    return refuse("the URL must not carry user information");
  }
  std::string host = authority;
  std::size_t portStart = std::string::npos;  // the colon before the port, if any
  if (!host.empty() && host.front() == '[') {
    const std::size_t close = host.find(']');
    if (close == std::string::npos || (close + 1 < host.size() && host[close + 1] != ':')) {
      return refuse("the URL's host is malformed");
    }
    portStart = close + 1 < host.size() ? close + 1 : std::string::npos;
    host = host.substr(0, close + 1);
  } else {
    portStart = host.find(':');
    host = host.substr(0, portStart);
  }
  if (host.empty()) {
    return refuse("the URL has no host");
  }
  if (portStart != std::string::npos && portStart + 1 < authority.size()) {
    // An empty port means the scheme's own; any other must name a real one.
    const std::string port = authority.substr(portStart + 1);
    if (port.size() > 5 || !std::all_of(port.begin(), port.end(), ::isdigit) || std::stoi(port) < 1 ||
        std::stoi(port) > 65535) {
      return refuse("the URL's port must be a number from 1 to 65535");
    }
  }
  if (http && !isLoopbackHost(host)) {
    return refuse("plain http is accepted only for a loopback host; use https");
  }
  return true;
}
