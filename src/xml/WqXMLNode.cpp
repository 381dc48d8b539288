#include <KOVModule/WqXMLNode.h>

#include <KOVModule/KOVXmlUtils.h>
#include <KOVModule/WqXMLException.h>

#include <algorithm>

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
  _childNodes.push_back(childNode);
}

void WqXMLNode::addChildNode(std::string tag, std::optional<std::string> value) {
  addChildNode(nodeWithTag(std::move(tag), std::move(value)));
}

std::string WqXMLNode::toString() const {
  std::string out;
  out.reserve(256);
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
    KOVXmlUtils::HtmlEncodeInto(value, out);
    out += '"';
  }
  if (!_value && _childNodes.empty()) {
    out += " />";
    return;
  }
  out += '>';
  if (_value) {
    KOVXmlUtils::HtmlEncodeInto(*_value, out);
  } else {
    for (const auto& child : _childNodes) {
      child->appendTo(out);
    }
  }
  out += "</";
  out += _tag;
  out += '>';
}
