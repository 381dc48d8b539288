#pragma once
// Text semantics the engine relies on, on UTF-8 strings: full Unicode lower-casing,
// case-insensitive equality, integer reading with clamping, UTF-16 lengths.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace kov::text {

/// Full Unicode lower-casing without locale rules (ASCII text takes a fast path).
std::string lowercase(std::string_view utf8);

/// Whole-text equality under Unicode case folding ("YES" equals "yes").
bool equalsIgnoreCase(std::string_view utf8, std::string_view other);

/// Reads an integer the way the platform's intValue does: leading blanks skipped, an
/// optional sign, decimal digits up to the first other character; 0 when there is no
/// number; values beyond 32 bits clamp to INT32_MIN / INT32_MAX.
int32_t intValue(std::string_view text);

/// The text with every invalid UTF-8 sequence replaced by U+FFFD.
std::string validUtf8(std::string_view bytes);

/// Why text cannot be written as XML 1.0 character data, if it cannot.
enum class XmlTextFault {
  None,
  NotUtf8,            ///< a byte sequence that is not UTF-8 (lone surrogates included)
  ForbiddenCharacter  ///< a control character other than tab, LF and CR, or U+FFFE, U+FFFF
};
XmlTextFault xmlTextFault(std::string_view utf8);

/// Whether text can be written as XML 1.0 character data (no XmlTextFault). When it cannot,
/// why says so ("it is not valid UTF-8" ...), naming no character of the text.
bool isXmlText(std::string_view text, std::string* why = nullptr);

/// How many of the first `limit` bytes (at most the text's length) are ASCII before the
/// first byte that is not: the run that needs no decoding. Inline: receipts call it for
/// every line.
inline std::size_t asciiPrefix(std::string_view bytes, std::size_t limit) {
  limit = std::min(limit, bytes.size());
  std::size_t n = 0;
  // Eight bytes at a time: a byte that is not ASCII has its top bit set.
  constexpr uint64_t kTopBits = 0x8080808080808080u;
  for (; n + sizeof(uint64_t) <= limit; n += sizeof(uint64_t)) {
    uint64_t word = 0;
    std::memcpy(&word, bytes.data() + n, sizeof word);
    if ((word & kTopBits) != 0) {
      break;
    }
  }
  while (n < limit && static_cast<unsigned char>(bytes[n]) < 0x80) {
    ++n;
  }
  return n;
}

/// Length of the next code point starting at bytes[pos] in UTF-8 bytes (1 for an invalid
/// byte) and in UTF-16 code units (2 for characters outside the basic plane).
struct CodePointSpan {
  std::size_t bytes;
  int utf16Units;
};
CodePointSpan nextCodePoint(std::string_view bytes, std::size_t pos);

/// The code point of every byte of a single-byte character set that ICU knows by this name
/// (windows-1252, ISO-8859-15, KOI8-R ...), -1 for a byte the set leaves undefined; nullopt
/// for an unknown name or a set whose characters take more than one byte.
std::optional<std::array<int32_t, 256>> singleByteCharset(const char* name);

}  // namespace kov::text
