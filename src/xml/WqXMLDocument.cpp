#include <KOVModule/WqXMLDocument.h>

std::shared_ptr<WqXMLDocument> WqXMLDocument::documentWithRootNode(std::string rootNodeTag) {
  return std::make_shared<WqXMLDocument>(WqXMLNode::nodeWithTag(std::move(rootNodeTag)));
}

std::string WqXMLDocument::toString() const { return _rootNode->toString(); }
