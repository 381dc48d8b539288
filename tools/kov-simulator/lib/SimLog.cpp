#include "SimLog.h"

#include <regex>

namespace kovsim {

std::string maskKey(std::string_view text, std::string_view secret) {
  // The attribute name must not be the tail of a longer name ("monkey=").
  static const std::regex keyAttribute(R"((^|[\s<])(key\s*=\s*)("[^"]*"|'[^']*'|"[^"]*$|'[^']*$))");
  std::string masked = std::regex_replace(std::string(text), keyAttribute, "$1$2\"......\"");
  if (!secret.empty()) {
    for (std::size_t at = masked.find(secret); at != std::string::npos; at = masked.find(secret, at + 6)) {
      masked.replace(at, secret.size(), "......");
    }
  }
  return masked;
}

std::string oneLine(std::string_view text) {
  std::string line(text);
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      c = ' ';
    }
  }
  return line;
}

}  // namespace kovsim
