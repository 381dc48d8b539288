#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

namespace {

template <typename F>
void expectRefusal(F&& f, const std::string& name, const std::string& reason) {
  try {
    f();
    ADD_FAILURE() << "no refusal, expected " << name;
  } catch (const WqXMLException& e) {
    EXPECT_EQ(e.name(), name);
    EXPECT_STREQ(e.what(), reason.c_str());
  }
}

}  // namespace

TEST(Writer, SerialisesOneLineWithAttributesInInsertionOrder) {
  auto doc = WqXMLDocument::documentWithRootNode("Scr");
  auto root = doc->getRootNode();
  root->addAttribute("zeta", "1");
  root->addAttribute("alpha", "a\"b");
  root->addChildNode("Empty", std::nullopt);
  root->addChildNode("Blank", std::string());
  root->addChildNode("Text", std::string("<a & 'b'>"));
  auto inner = WqXMLNode::nodeWithTag("Inner");
  inner->addChildNode("Leaf", std::string("x"));
  root->addChildNode(inner);
  EXPECT_EQ(doc->toString(),
            "<Scr zeta=\"1\" alpha=\"a&quot;b\"><Empty /><Blank></Blank>"
            "<Text>&lt;a &amp; &#39;b&#39;&gt;</Text><Inner><Leaf>x</Leaf></Inner></Scr>");
  EXPECT_EQ(WqXMLDocument::documentWithRootNode("Scr")->toString(), "<Scr />");
  EXPECT_EQ(doc->getRootNode(), root) << "the document's own root, not a copy";
}

TEST(Writer, EncodesOnlyTheFiveCharacters) {
  EXPECT_EQ(KOVXmlUtils::HtmlEncode(std::nullopt), "");
  EXPECT_EQ(KOVXmlUtils::HtmlEncode(std::string("&&")), "&amp;&amp;");
  EXPECT_EQ(KOVXmlUtils::HtmlEncode(std::string("caf\xC3\xA9 \t\n/;")), "caf\xC3\xA9 \t\n/;");
  EXPECT_EQ(KOVXmlUtils::HtmlEncode(std::string("&amp;")), "&amp;amp;");
}

TEST(Writer, RefusesDuplicatesMixedContentAndCycles) {
  auto node = WqXMLNode::nodeWithTag("A");
  node->addAttribute("x", "1");
  expectRefusal([&] { node->addAttribute("x", "2"); }, "Duplicate attribute", "Attribute is already in list");

  auto child = WqXMLNode::nodeWithTag("B");
  node->addChildNode(child);
  expectRefusal([&] { node->addChildNode(child); }, "Duplicate child node", "Child node is already in list");

  auto valued = WqXMLNode::nodeWithTag("V", std::string("text"));
  expectRefusal([&] { valued->addChildNode("C", std::nullopt); }, "Cannot add child",
                "Child node can only have either value or child nodes");
  auto emptyValued = WqXMLNode::nodeWithTag("V", std::string());
  expectRefusal([&] { emptyValued->addChildNode("C", std::nullopt); }, "Cannot add child",
                "Child node can only have either value or child nodes");

  // A node beneath itself, directly or through a descendant, would never finish writing.
  expectRefusal([&] { node->addChildNode(node); }, "Cannot add child", "Child node would contain its own parent");
  expectRefusal([&] { child->addChildNode(node); }, "Cannot add child", "Child node would contain its own parent");
  expectRefusal([&] { node->addChildNode(std::shared_ptr<WqXMLNode>()); }, "Cannot add child",
                "Child node would contain its own parent");
  EXPECT_EQ(node->toString(), "<A x=\"1\"><B /></A>") << "refusals change nothing";

  // The same node may sit under two parents: it is written in both places.
  auto other = WqXMLNode::nodeWithTag("O");
  other->addChildNode(child);
  EXPECT_EQ(other->toString(), "<O><B /></O>");
}
