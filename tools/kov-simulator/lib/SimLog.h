#pragma once
#include <string>
#include <string_view>

namespace kovsim {

/// The text with the value of every key="..." (or key='...') attribute replaced by "......",
/// and any other occurrence of secret as well, so no merchant key reaches a log line.
std::string maskKey(std::string_view text, std::string_view secret);

/// The text on one line: line breaks and other control characters become blanks.
std::string oneLine(std::string_view text);

}  // namespace kovsim
