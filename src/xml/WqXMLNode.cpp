#include <KOVModule/WqXMLNode.h>

#include <KOVModule/WqXMLException.h>

#include <algorithm>

#include "xml/KOVXml.h"

namespace {

// Room taken on the first attribute and the first child: every request the library writes
// fits (three attributes, up to fourteen children), so the lists never grow while it builds.
constexpr std::size_t kAttributesRoom = 4;
constexpr std::size_t kChildrenRoom = 16;

}  // namespace

WqXMLNode::WqXMLNode(std::string tag, std::optional<std::string> value)
    : _tag(std::move(tag)), _value(std::move(value)) {}

std::shared_ptr<WqXMLNode> WqXMLNode::nodeWithTag(std::string tag, std::optional<std::string> value) {
  return std::make_shared<WqXMLNode>(std::move(tag), std::move(value));
}

std::shared_ptr<WqXMLNode> WqXMLNode::nodeWithTag(std::string tag) { return nodeWithTag(std::move(tag), std::nullopt); }

void WqXMLNode::addAttribute(const std::string& attribute, const std::string& value) {
  const bool present = std::any_of(_attributes.begin(), _attributes.end(),
                                   [&](const auto& entry) { return entry.first == attribute; });
  if (present) {
    throw WqXMLException("Duplicate attribute", "Attribute is already in list");
  }
  if (_attributes.empty()) {
    _attributes.reserve(kAttributesRoom);
  }
  _attributes.emplace_back(attribute, value);
}

bool WqXMLNode::contains(const WqXMLNode* node) const {
  if (this == node) {
    return true;
  }
  return std::any_of(_childNodes.begin(), _childNodes.end(),
                     [node](const auto& child) { return child->contains(node); });
}

void WqXMLNode::addChildNode(const std::shared_ptr<WqXMLNode>& childNode) {
  if (_value) {
    throw WqXMLException("Cannot add child", "Child node can only have either value or child nodes");
  }
  if (std::find(_childNodes.begin(), _childNodes.end(), childNode) != _childNodes.end()) {
    throw WqXMLException("Duplicate child node", "Child node is already in list");
  }
  // A node beneath itself would make serialisation recurse without end.
  if (!childNode || childNode->contains(this)) {
    throw WqXMLException("Cannot add child", "Child node would contain its own parent");
  }
  appendChild(childNode);
}

void WqXMLNode::addChildNode(std::string tag, std::optional<std::string> value) {
  if (_value) {
    throw WqXMLException("Cannot add child", "Child node can only have either value or child nodes");
  }
  // A node made here is in no list and holds nothing: no duplicate or cycle to look for.
  appendChild(nodeWithTag(std::move(tag), std::move(value)));
}

void WqXMLNode::appendChild(std::shared_ptr<WqXMLNode> childNode) {
  if (_childNodes.empty()) {
    _childNodes.reserve(kChildrenRoom);
  }
  _childNodes.push_back(std::move(childNode));
}

std::string WqXMLNode::toString() const {
  std::string out;
  out.reserve(512);  // a whole transaction request without growing
  appendTo(out);
  return out;
}

void WqXMLNode::appendTo(std::string& out) const {
  out += '<';
  out += _tag;
  for (const auto& [name, value] : _attributes) {
    out += ' ';
    out += name;
    out += "=\"";
    kov::xml::appendEscaped(value, out);
    out += '"';
  }
  if (!_value && _childNodes.empty()) {
    out += " />";
    return;
  }
  out += '>';
  if (_value) {
    kov::xml::appendEscaped(*_value, out);
  } else {
    for (const auto& child : _childNodes) {
      child->appendTo(out);
    }
  }
  out += "</";
  out += _tag;
  out += '>';
}
