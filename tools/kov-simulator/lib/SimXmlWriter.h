#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace kovsim {

/// Writes an answer the way the service does: one line, no declaration, attribute values and
/// text with & < > " ' written as &amp; &lt; &gt; &quot; &#39;, an element with no content as
/// `<Tag />` and one with empty text as `<Tag></Tag>`. Tags and attribute names are written
/// as given. Attributes go right after open(), before the element's content.
class SimXmlWriter {
 public:
  /// Starts an element inside the one that is open, or the root; throws std::logic_error for
  /// a second root.
  SimXmlWriter& open(std::string_view tag);
  /// Adds an attribute to the element just opened; throws std::logic_error once the element
  /// has content or when none is open.
  SimXmlWriter& attribute(std::string_view name, std::string_view value);
  /// Writes text into the open element (empty text too); throws std::logic_error when none is open.
  SimXmlWriter& text(std::string_view text);
  /// Ends the innermost open element; throws std::logic_error when none is open.
  SimXmlWriter& close();
  /// An element holding only the text: open(tag), text(value), close().
  SimXmlWriter& element(std::string_view tag, std::string_view value);
  /// Ends every element still open and hands over the document; the writer starts afresh.
  std::string finish();

 private:
  void requireOpen(const char* what) const;
  void endStartTag();

  std::string _out;
  std::vector<std::string> _open;  // tags of the open elements, the innermost last
  bool _inStartTag = false;        // the innermost start tag still takes attributes
};

}  // namespace kovsim
