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

struct DeclaredEncoding {
  const char* name;
  std::string bytes;     // the line's text in that encoding
  const char* expected;  // the same text in UTF-8
};

class ParserEncoding : public ::testing::TestWithParam<DeclaredEncoding> {};

TEST_P(ParserEncoding, SingleByteAnswersReachTheDictionaryAsUtf8) {
  const DeclaredEncoding& e = GetParam();
  const std::string body = std::string("<?xml version=\"1.0\" encoding=\"") + e.name + "\"?><Scr><DL1 t=\"" +
                           e.bytes + "\">" + e.bytes + "</DL1></Scr>";
  EXPECT_EQ(parse(body), (NSStringDictionary{{"Scr/DL1", e.expected}, {"Scr/DL1/__t", e.expected}}));
}

INSTANTIATE_TEST_SUITE_P(
    Families, ParserEncoding,
    ::testing::Values(
        // the euro sign and curly quotes lie outside ISO-8859-1
        DeclaredEncoding{"windows-1252", "\x80 5 \x93ok\x94", "\xE2\x82\xAC 5 \xE2\x80\x9Cok\xE2\x80\x9D"},
        DeclaredEncoding{"Windows-1252", "caf\xE9", "caf\xC3\xA9"},
        DeclaredEncoding{"ISO-8859-15", "\xA4 \xBD", "\xE2\x82\xAC \xC5\x93"},
        DeclaredEncoding{"ISO-8859-2", "\xB3\xF3" "d\xBC", "\xC5\x82\xC3\xB3" "d\xC5\xBA"},
        DeclaredEncoding{"windows-1251", "\xCF\xC8\xCD", "\xD0\x9F\xD0\x98\xD0\x9D"},
        DeclaredEncoding{"KOI8-R", "\xF0\xE9\xEE", "\xD0\x9F\xD0\x98\xD0\x9D"},
        DeclaredEncoding{"ISO-8859-7", "\xD0\xC9\xCD", "\xCE\xA0\xCE\x99\xCE\x9D"},
        DeclaredEncoding{"windows-874", "\xA1", "\xE0\xB8\x81"}));

TEST(Parser, EncodingsItCannotReadStopAtTheDeclaration) {
  // unknown names and sets whose characters take several bytes
  for (const char* name : {"x-no-such-set", "Shift_JIS", "EBCDIC-US"}) {
    EXPECT_TRUE(parse(std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?><Scr><DL1>A</DL1></Scr>", false)
                    .empty())
        << name;
  }
}
