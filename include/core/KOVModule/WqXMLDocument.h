#pragma once
#include <KOVModule/KOVExport.h>
#include <memory>
#include <string>

#include <KOVModule/WqXMLNode.h>

/// A document: one root element, serialised without declaration or line break.
class KOV_CORE_EXPORT WqXMLDocument {
 public:
  /// A new document whose root element has the given tag and nothing else.
  static std::shared_ptr<WqXMLDocument> documentWithRootNode(std::string rootNodeTag);
  /// The document's own root node (not a copy).
  std::shared_ptr<WqXMLNode> getRootNode() const { return _rootNode; }
  /// Exactly the root node's serialisation.
  std::string toString() const;

  explicit WqXMLDocument(std::shared_ptr<WqXMLNode> root) : _rootNode(std::move(root)) {}

 private:
  std::shared_ptr<WqXMLNode> _rootNode;
};
