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

  /// Empties result, then fills it with the answer's path dictionary. True when the whole
  /// body was well-formed; false otherwise, keeping the entries stored before the fault.
  /// External entities are never loaded; nesting deeper than 64 elements stops with false.
  static bool ParseXML(std::string_view data, NSStringDictionary& result);
};
