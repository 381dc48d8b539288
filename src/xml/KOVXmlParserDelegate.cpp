#include <KOVModule/KOVXmlParserDelegate.h>

thread_local std::vector<std::string> elementStack;
thread_local NSStringDictionary* outputDictionary = nullptr;

KOVXmlParserDelegate::KOVXmlParserDelegate() {
  // Emptied, not replaced: the room reserved once is kept for every later answer.
  elementStack.clear();
  elementStack.reserve(32);
}

void KOVXmlParserDelegate::setResultDictionary(NSStringDictionary& dictionary) { outputDictionary = &dictionary; }

std::string KOVXmlParserDelegate::getCurrentPath() const { return currentPath_; }

void KOVXmlParserDelegate::didStartElement(
    std::string_view elementName, const std::vector<std::pair<std::string_view, std::string_view>>& attributes) {
  elementStack.emplace_back(elementName);
  if (!currentPath_.empty()) {
    currentPath_ += '/';
  }
  currentPath_ += elementName;
  if (attributes.empty() || !outputDictionary) {
    return;
  }
  std::string key = currentPath_;
  key += "/__";
  const std::size_t base = key.size();
  for (const auto& [name, value] : attributes) {
    key.resize(base);
    key += name;
    (*outputDictionary)[key] = std::string(value);
  }
}

void KOVXmlParserDelegate::foundCharacters(std::string_view string) {
  if (!outputDictionary) {
    return;
  }
  // Pieces append in place: a split text run and text after a child end up joined. One
  // look-up serves both cases (the key is copied only when it is new).
  const auto [entry, inserted] = outputDictionary->try_emplace(currentPath_, string);
  if (!inserted) {
    entry->second.append(string);
  }
}

void KOVXmlParserDelegate::didEndElement(std::string_view elementName) {
  if (elementStack.empty() || elementStack.back() != elementName) {
    return;
  }
  elementStack.pop_back();
  const std::size_t cut = currentPath_.size() >= elementName.size() + 1 ? currentPath_.size() - elementName.size() - 1 : 0;
  currentPath_.resize(cut);
}
