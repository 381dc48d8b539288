#include "KOVText.h"

#include <algorithm>
#include <climits>
#include <memory>

#include <unicode/locid.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

namespace kov::text {
namespace {

bool isAscii(std::string_view s) { return asciiPrefix(s, s.size()) == s.size(); }

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

icu::UnicodeString toUnicode(std::string_view utf8) {
  return icu::UnicodeString::fromUTF8(icu::StringPiece(utf8.data(), static_cast<int32_t>(utf8.size())));
}

}  // namespace

std::string lowercase(std::string_view utf8) {
  if (isAscii(utf8)) {
    std::string out(utf8);
    std::transform(out.begin(), out.end(), out.begin(), asciiLower);
    return out;
  }
  // The root locale gives the language-neutral full case mapping (no Turkish dotless i).
  icu::UnicodeString u = toUnicode(utf8);
  u.toLower(icu::Locale::getRoot());
  std::string out;
  u.toUTF8String(out);
  return out;
}

bool equalsIgnoreCase(std::string_view utf8, std::string_view other) {
  if (isAscii(utf8) && isAscii(other)) {
    return utf8.size() == other.size() &&
           std::equal(utf8.begin(), utf8.end(), other.begin(),
                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
  }
  return toUnicode(utf8).caseCompare(toUnicode(other), U_FOLD_CASE_DEFAULT) == 0;
}

int32_t intValue(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                             text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  int64_t value = 0;
  const int64_t limit = negative ? -static_cast<int64_t>(INT32_MIN) : INT32_MAX;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > limit) {
      return negative ? INT32_MIN : INT32_MAX;
    }
  }
  return static_cast<int32_t>(negative ? -value : value);
}

CodePointSpan nextCodePoint(std::string_view bytes, std::size_t pos) {
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int32_t>(bytes.size());
  auto i = static_cast<int32_t>(pos);
  UChar32 c = 0;
  U8_NEXT(s, i, length, c);
  const std::size_t used = static_cast<std::size_t>(i) - pos;
  if (c < 0) {
    return {used, 1};
  }
  return {used, U16_LENGTH(c)};
}

std::string validUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const auto* s = reinterpret_cast<const uint8_t*>(bytes.data());
  const auto length = static_cast<int32_t>(bytes.size());
  int32_t i = 0;
  while (i < length) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      out += "\xEF\xBF\xBD";
    } else {
      out.append(bytes.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(i - start)));
    }
  }
  return out;
}

XmlTextFault xmlTextFault(std::string_view utf8) {
  const auto* s = reinterpret_cast<const uint8_t*>(utf8.data());
  const auto length = static_cast<int32_t>(utf8.size());
  int32_t i = 0;
  while (i < length) {
    if (s[i] >= 0x20 && s[i] < 0x80) {
      ++i;  // printable ASCII, nearly all of it
      continue;
    }
    UChar32 c = 0;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      return XmlTextFault::NotUtf8;
    }
    if ((c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) || c == 0xFFFE || c == 0xFFFF) {
      return XmlTextFault::ForbiddenCharacter;
    }
  }
  return XmlTextFault::None;
}

bool isXmlText(std::string_view text, std::string* why) {
  const XmlTextFault fault = xmlTextFault(text);
  if (why && fault == XmlTextFault::NotUtf8) {
    *why = "it is not valid UTF-8";
  } else if (why && fault == XmlTextFault::ForbiddenCharacter) {
    *why = "it holds a character XML cannot carry (a control character, U+FFFE or U+FFFF)";
  }
  return fault == XmlTextFault::None;
}

std::optional<std::array<int32_t, 256>> singleByteCharset(const char* name) {
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, decltype(&ucnv_close)> converter(ucnv_open(name, &status), &ucnv_close);
  if (U_FAILURE(status) || !converter || ucnv_getType(converter.get()) != UCNV_SBCS) {
    return std::nullopt;
  }
  // An undefined byte must show as undefined, not as a substitute character.
  ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (U_FAILURE(status)) {
    return std::nullopt;
  }
  std::array<int32_t, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    const char in = static_cast<char>(byte);
    UChar out[4];
    UErrorCode byteStatus = U_ZERO_ERROR;
    ucnv_reset(converter.get());
    const int32_t length = ucnv_toUChars(converter.get(), out, 4, &in, 1, &byteStatus);
    UChar32 codePoint = -1;
    if (U_SUCCESS(byteStatus) && length > 0) {
      int32_t offset = 0;
      U16_NEXT(out, offset, length, codePoint);
      if (offset != length) {
        codePoint = -1;  // one byte giving two characters cannot be described to the parser
      }
    }
    table[static_cast<std::size_t>(byte)] = codePoint;
  }
  return table;
}

}  // namespace kov::text
