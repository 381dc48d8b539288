#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

namespace {

NSStringDictionary parse(const std::string& body, bool expectOk = true) {
  NSStringDictionary dict;
  EXPECT_EQ(KOVXmlUtils::ParseXML(body, dict), expectOk) << body.substr(0, 200);
  return dict;
}

}  // namespace

TEST(Parser, PathsTextsAndAttributes) {
  EXPECT_EQ(parse("<Scr><DL1>PRESENT CARD</DL1><B1 en=\"1\">Cancel</B1><Tmo>15</Tmo></Scr>"),
            (NSStringDictionary{{"Scr/DL1", "PRESENT CARD"}, {"Scr/B1", "Cancel"}, {"Scr/B1/__en", "1"},
                                {"Scr/Tmo", "15"}}));
  EXPECT_EQ(parse("<Scr action=\"doScrKOV\"><E/><F></F><p:A>n</p:A></Scr>"),
            (NSStringDictionary{{"Scr/__action", "doScrKOV"}, {"Scr/p:A", "n"}}));
  EXPECT_EQ(parse("<Scr><L x=\"1\">a</L><L x=\"2\">b</L></Scr>"),
            (NSStringDictionary{{"Scr/L", "ab"}, {"Scr/L/__x", "2"}}));
  EXPECT_EQ(parse("<A>x<B>y</B>z</A>"), (NSStringDictionary{{"A", "xz"}, {"A/B", "y"}}));
  EXPECT_EQ(parse("<Scr><T>a &amp; b &#39;c&#39; &lt;&gt; &#x20AC;</T></Scr>"),
            (NSStringDictionary{{"Scr/T", "a & b 'c' <> \xE2\x82\xAC"}}));
}

TEST(Parser, PrettyPrintingOnlyAddsTheRootsWhitespace) {
  const auto flat = parse("<Scr><DL1>A</DL1><DL2>B</DL2></Scr>");
  auto pretty = parse("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Scr>\n  <DL1>A</DL1>\n  <DL2>B</DL2>\n</Scr>\n");
  EXPECT_EQ(pretty.at("Scr"), "\n  \n  \n");
  pretty.erase("Scr");
  EXPECT_EQ(pretty, flat);
}

TEST(Parser, LineEndsAreNormalisedAsXmlRequires) {
  EXPECT_EQ(parse("<Scr><R>a\r\nb\rc</R></Scr>"), (NSStringDictionary{{"Scr/R", "a\nb\nc"}}));
  EXPECT_EQ(parse("<Scr><R>a&#13;&#10;b</R></Scr>"), (NSStringDictionary{{"Scr/R", "a\r\nb"}}));
}

TEST(Parser, CdataIsNotStored) {
  EXPECT_EQ(parse("<Scr><R>a<![CDATA[<hidden>]]>b</R></Scr>"), (NSStringDictionary{{"Scr/R", "ab"}}));
}

TEST(Parser, BrokenAndEmptyBodiesReturnFalseAndKeepWhatWasRead) {
  EXPECT_EQ(parse("<Scr><DL1>ENTER PIN</DL1><DL2>par", false),
            (NSStringDictionary{{"Scr/DL1", "ENTER PIN"}, {"Scr/DL2", "par"}}));
  EXPECT_EQ(parse("<html><body>502 Bad Gateway</body>", false), (NSStringDictionary{{"html/body", "502 Bad Gateway"}}));
  EXPECT_TRUE(parse("plain text", false).empty());
  EXPECT_TRUE(parse("", false).empty());
  EXPECT_TRUE(parse("<A></B>", false).empty());

  NSStringDictionary dict{{"stale", "1"}};
  EXPECT_FALSE(KOVXmlUtils::ParseXML("", dict));
  EXPECT_TRUE(dict.empty()) << "entries from before the call are gone";
  dict["stale"] = "1";
  EXPECT_TRUE(KOVXmlUtils::ParseXML("<A>1</A>", dict));
  EXPECT_EQ(dict, (NSStringDictionary{{"A", "1"}}));
}

TEST(Parser, RefusesDoctypesSoNoEntityIsEverExpanded) {
  // Exponential entity expansion and external entities both need a DOCTYPE.
  std::string laughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">";
  laughs += "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">";
  for (int i = 2; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"";
    for (int j = 0; j < 10; ++j) laughs += "&lol" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]><Scr><DL1>&lol9;</DL1></Scr>";
  EXPECT_TRUE(parse(laughs, false).empty());
  EXPECT_TRUE(
      parse("<!DOCTYPE Scr [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><Scr><DL1>&x;</DL1></Scr>", false).empty());
  EXPECT_TRUE(parse("<!DOCTYPE Scr><Scr><DL1>a</DL1></Scr>", false).empty());
  EXPECT_TRUE(parse("<Scr><DL1>&undefined;</DL1></Scr>", false).empty());
}

TEST(Parser, NestingBeyondTheLimitStopsWithTheKeysAboveIt) {
  std::string ok, deep;
  for (int i = 0; i < KOVXmlUtils::kMaxDepth; ++i) ok += "<a>";
  ok += "x";
  for (int i = 0; i < KOVXmlUtils::kMaxDepth; ++i) ok += "</a>";
  EXPECT_EQ(parse(ok).size(), 1u);

  deep = "<Scr><DL1>ok</DL1>";
  for (int i = 0; i < 100000; ++i) deep += "<a>";
  EXPECT_EQ(parse(deep, false), (NSStringDictionary{{"Scr/DL1", "ok"}}));
}

TEST(Parser, LongTextInManyPiecesIsJoined) {
  std::string text(3 * 1024 * 1024, 'r');
  for (std::size_t i = 0; i < text.size(); i += 1000) text[i] = 'q';
  const auto dict = parse("<Scr><Rcpt>" + text + "</Rcpt></Scr>");
  EXPECT_EQ(dict.at("Scr/Rcpt"), text);
}
