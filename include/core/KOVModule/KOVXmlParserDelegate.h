#pragma once
#include <KOVModule/KOVExport.h>
#include <string>
#include <string_view>
#include <vector>

#include <KOVModule/NSStringDictionary.h>

/// The parser's state, one per thread so that engines on different threads parse at once:
/// the open elements, root first, and the dictionary being filled (kept after the parse
/// until the next one on the same thread).
extern KOV_CORE_EXPORT thread_local std::vector<std::string> elementStack;
extern KOV_CORE_EXPORT thread_local NSStringDictionary* outputDictionary;

/// Receives the XML parser's events and turns them into path dictionary entries.
class KOV_CORE_EXPORT KOVXmlParserDelegate {
 public:
  /// Resets elementStack to empty.
  KOVXmlParserDelegate();
  /// Makes outputDictionary refer to the dictionary.
  void setResultDictionary(NSStringDictionary& dictionary);
  /// The open element names joined with "/"; "" when none is open.
  std::string getCurrentPath() const;

  void didStartElement(std::string_view elementName,
                       const std::vector<std::pair<std::string_view, std::string_view>>& attributes);
  void foundCharacters(std::string_view string);
  void didEndElement(std::string_view elementName);

 private:
  std::string currentPath_;  // elementStack joined, kept in step to avoid rebuilding it
};
