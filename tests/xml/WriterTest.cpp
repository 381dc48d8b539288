#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <functional>

// The escaping and empty-element forms of the requests are checked byte for byte with the
// documents themselves; here: what a host building its own document is refused, and why.
TEST(Writer, RefusesDuplicatesMixedContentAndCyclesAndChangesNothing) {
  auto node = WqXMLNode::nodeWithTag("A");
  node->addAttribute("x", "1");
  auto child = WqXMLNode::nodeWithTag("B");
  node->addChildNode(child);
  auto valued = WqXMLNode::nodeWithTag("V", std::string("text"));
  auto emptyValued = WqXMLNode::nodeWithTag("V", std::string());
  const std::string kMixed = "Child node can only have either value or child nodes";
  const std::string kCycle = "Child node would contain its own parent";
  const std::vector<std::tuple<std::function<void()>, std::string, std::string>> refusals = {
      {[&] { node->addAttribute("x", "2"); }, "Duplicate attribute", "Attribute is already in list"},
      {[&] { node->addChildNode(child); }, "Duplicate child node", "Child node is already in list"},
      {[&] { valued->addChildNode("C", std::nullopt); }, "Cannot add child", kMixed},
      {[&] { emptyValued->addChildNode("C", std::nullopt); }, "Cannot add child", kMixed},
      // a node beneath itself, directly or through a descendant, would never finish writing
      {[&] { node->addChildNode(node); }, "Cannot add child", kCycle},
      {[&] { child->addChildNode(node); }, "Cannot add child", kCycle},
      {[&] { node->addChildNode(std::shared_ptr<WqXMLNode>()); }, "Cannot add child", kCycle}};
  for (const auto& [act, name, reason] : refusals) {
    try {
      act();
      ADD_FAILURE() << "no refusal, expected " << reason;
    } catch (const WqXMLException& e) {
      EXPECT_EQ(e.name(), name);
      EXPECT_EQ(std::string(e.what()), reason);
    }
  }
  EXPECT_EQ(node->toString(), "<A x=\"1\"><B /></A>");
  // The same node may sit under two parents: it is written in both places.
  auto other = WqXMLNode::nodeWithTag("O");
  other->addChildNode(child);
  EXPECT_EQ(other->toString(), "<O><B /></O>");
  auto doc = WqXMLDocument::documentWithRootNode("Scr");
  EXPECT_EQ(doc->toString(), "<Scr />");
  doc->getRootNode()->addAttribute("zeta", "1");
  doc->getRootNode()->addAttribute("alpha", "2");
  EXPECT_EQ(doc->toString(), "<Scr zeta=\"1\" alpha=\"2\" />") << "the document's own root, in insertion order";
  EXPECT_EQ(KOVXmlUtils::HtmlEncode(std::nullopt), "");
  EXPECT_EQ(KOVXmlUtils::HtmlEncode(std::string("&amp; \t\n/;")), "&amp;amp; \t\n/;");
}
