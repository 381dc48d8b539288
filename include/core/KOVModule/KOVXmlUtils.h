#pragma once
#include <KOVModule/KOVExport.h>
#include <optional>
#include <string>
#include <string_view>

#include <KOVModule/NSStringDictionary.h>

/// Escaping for the request writer and the answer parser.
class KOV_CORE_EXPORT KOVXmlUtils {
 public:
  /// Escapes < > & ' " as &lt; &gt; &amp; &#39; &quot;; everything else unchanged.
  static std::string HtmlEncode(const std::optional<std::string>& inputStr);
  /// Appends the escaped text to out (the same text as HtmlEncode).
  static void HtmlEncodeInto(std::string_view input, std::string& out);
  /// Whether text can be written as XML 1.0 character data: UTF-8 without control
  /// characters other than tab, LF and CR, and without U+FFFE and U+FFFF. When it cannot,
  /// why says so ("it is not valid UTF-8" ...), naming no character of the text.
  static bool isXmlText(std::string_view text, std::string* why = nullptr);

  /// Empties result, then fills it with the answer's path dictionary. True when the whole
  /// body was well-formed; false otherwise, keeping the entries stored before the fault.
  /// External entities are never loaded; nesting deeper than kMaxDepth stops with false.
  static bool ParseXML(std::string_view data, NSStringDictionary& result);

  /// Deepest element nesting an answer may have.
  static constexpr int kMaxDepth = 64;
};
