#pragma once
#include <KOVModule/KOVExport.h>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

/// One XML element: a tag, attributes in insertion order, and either a text value or
/// child elements. Write-only: built, serialised, dropped.
class KOV_CORE_EXPORT WqXMLNode {
 public:
  /// A new node with the tag and an optional text value (nullopt: no value at all).
  static std::shared_ptr<WqXMLNode> nodeWithTag(std::string tag, std::optional<std::string> value);
  /// A new node with the tag and no value.
  static std::shared_ptr<WqXMLNode> nodeWithTag(std::string tag);

  /// Adds an attribute; throws WqXMLException "Duplicate attribute" when the name exists.
  void addAttribute(const std::string& attribute, const std::string& value);
  /// Appends a child; throws "Cannot add child" when this node has a value, "Duplicate child
  /// node" when this very child is already in the list, and refuses a child that contains
  /// this node (a cycle) with "Cannot add child".
  void addChildNode(const std::shared_ptr<WqXMLNode>& childNode);
  /// Appends a new child with the tag and value.
  void addChildNode(std::string tag, std::optional<std::string> value);

  /// The element and all beneath it as one line of XML text.
  std::string toString() const;

  WqXMLNode(std::string tag, std::optional<std::string> value);

 private:
  bool contains(const WqXMLNode* node) const;
  void appendChild(std::shared_ptr<WqXMLNode> childNode);
  // Writes into one buffer for the whole tree (the same text as toString()).
  void appendTo(std::string& out) const;

  std::vector<std::pair<std::string, std::string>> _attributes;
  std::string _tag;
  std::optional<std::string> _value;
  std::vector<std::shared_ptr<WqXMLNode>> _childNodes;
};
