#pragma once
// What the request writer and the answer parser share inside the library.
#include <string>
#include <string_view>

namespace kov::xml {

/// Deepest element nesting an answer may have; a deeper element stops the parse.
inline constexpr int kMaxDepth = 64;

/// Appends the text to out with < > & ' " written as &lt; &gt; &amp; &#39; &quot;
/// (the same text as KOVXmlUtils::HtmlEncode).
void appendEscaped(std::string_view input, std::string& out);

}  // namespace kov::xml
