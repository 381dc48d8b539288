#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include "xml/KOVXml.h"

namespace {

struct ParseCase {
  const char* name;
  bool ok;  // the whole answer was read
  std::string body;
  NSStringDictionary keys;
};

void PrintTo(const ParseCase& c, std::ostream* out) { *out << c.name; }

class Parser : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Parser, GivesPathKeysAndStopsAtTheFirstFault) {
  NSStringDictionary keys{{"stale", "1"}};  // entries from before the call are gone
  EXPECT_EQ(KOVXmlUtils::ParseXML(GetParam().body, keys), GetParam().ok);
  EXPECT_EQ(keys, GetParam().keys);
}

std::string nested(int depth, const std::string& inner) {
  std::string open, close;
  for (int i = 0; i < depth; ++i) open += "<a>", close += "</a>";
  return open + inner + close;
}

std::string chain(int depth) {
  std::string path = "a";
  for (int i = 1; i < depth; ++i) path += "/a";
  return path;
}

std::string declared(const std::string& encoding, const std::string& text) {
  return "<?xml version=\"1.0\" encoding=\"" + encoding + "\"?><Scr><DL1 t=\"" + text + "\">" + text + "</DL1></Scr>";
}

const std::string kLong = [] {
  std::string text(3 * 1024 * 1024, 'r');
  for (std::size_t i = 0; i < text.size(); i += 1000) text[i] = 'q';
  return text;
}();

NSStringDictionary line(const std::string& utf8) { return {{"Scr/DL1", utf8}, {"Scr/DL1/__t", utf8}}; }

INSTANTIATE_TEST_SUITE_P(
    Table, Parser,
    ::testing::Values(
        ParseCase{.name = "PathsTextsAndAttributes", .ok = true,
                  .body = "<Scr><DL1>PRESENT CARD</DL1><B1 en=\"1\">Cancel</B1><Tmo>15</Tmo></Scr>",
                  .keys = {{"Scr/DL1", "PRESENT CARD"}, {"Scr/B1", "Cancel"}, {"Scr/B1/__en", "1"}, {"Scr/Tmo", "15"}}},
        ParseCase{.name = "EmptyElementsAreNotStoredPrefixesKept", .ok = true,
                  .body = "<Scr action=\"doScrKOV\"><E/><F></F><p:A>n</p:A></Scr>",
                  .keys = {{"Scr/__action", "doScrKOV"}, {"Scr/p:A", "n"}}},
        ParseCase{.name = "RepeatedPathsJoinTextsAndKeepTheLastAttribute", .ok = true,
                  .body = "<Scr><L x=\"1\">a</L><L x=\"2\">b</L></Scr>", .keys = {{"Scr/L", "ab"}, {"Scr/L/__x", "2"}}},
        ParseCase{.name = "MixedContent", .ok = true, .body = "<A>x<B>y</B>z</A>", .keys = {{"A", "xz"}, {"A/B", "y"}}},
        ParseCase{.name = "References", .ok = true,
                  .body = "<Scr><T>a &amp; b &#39;c&#39; &lt;&gt; &#x20AC;</T></Scr>",
                  .keys = {{"Scr/T", "a & b 'c' <> \xE2\x82\xAC"}}},
        ParseCase{.name = "PrettyPrintingOnlyAddsTheRootsWhitespace", .ok = true,
                  .body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Scr>\n  <DL1>A</DL1>\n</Scr>\n",
                  .keys = {{"Scr", "\n  \n"}, {"Scr/DL1", "A"}}},
        ParseCase{.name = "LineEndsNormalised", .ok = true, .body = "<Scr><R>a\r\nb\rc</R><S>a&#13;&#10;b</S></Scr>",
                  .keys = {{"Scr/R", "a\nb\nc"}, {"Scr/S", "a\r\nb"}}},
        ParseCase{.name = "CdataIsNotStored", .ok = true, .body = "<Scr><R>a<![CDATA[<hidden>]]>b</R></Scr>",
                  .keys = {{"Scr/R", "ab"}}},
        ParseCase{.name = "BrokenKeepsWhatWasRead", .ok = false, .body = "<Scr><DL1>ENTER PIN</DL1><DL2>par",
                  .keys = {{"Scr/DL1", "ENTER PIN"}, {"Scr/DL2", "par"}}},
        ParseCase{.name = "Empty", .ok = false, .body = "", .keys = {}},
        ParseCase{.name = "MismatchedTags", .ok = false, .body = "<A></B>", .keys = {}},
        ParseCase{.name = "ExternalEntity", .ok = false,
                  .body = "<!DOCTYPE Scr [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><Scr>&x;</Scr>", .keys = {}},
        // Any document type declaration is refused, and with it every entity expansion.
        ParseCase{.name = "AnyDoctype", .ok = false, .body = "<!DOCTYPE Scr><Scr><DL1>a</DL1></Scr>", .keys = {}},
        ParseCase{.name = "UndefinedEntity", .ok = false, .body = "<Scr><DL1>&undefined;</DL1></Scr>", .keys = {}},
        ParseCase{.name = "NestingAtTheLimit", .ok = true, .body = nested(kov::xml::kMaxDepth, "x"),
                  .keys = {{chain(kov::xml::kMaxDepth), "x"}}},
        ParseCase{.name = "NestingPastTheLimitStopsWithTheKeysAboveIt", .ok = false,
                  .body = "<Scr><DL1>ok</DL1>" + nested(100000, ""), .keys = {{"Scr/DL1", "ok"}}},
        ParseCase{.name = "LongTextInManyPieces", .ok = true, .body = "<Scr><Rcpt>" + kLong + "</Rcpt></Scr>",
                  .keys = {{"Scr/Rcpt", kLong}}},
        // A single-byte set through ICU: the euro sign and curly quotes lie outside ISO-8859-1.
        ParseCase{.name = "Windows1252", .ok = true, .body = declared("windows-1252", "\x80 5 \x93ok\x94"),
                  .keys = line("\xE2\x82\xAC 5 \xE2\x80\x9Cok\xE2\x80\x9D")},
        // Unknown names and sets whose characters take several bytes stop at the declaration.
        ParseCase{.name = "UnknownSet", .ok = false, .body = declared("x-no-such-set", "A"), .keys = {}},
        ParseCase{.name = "MultiByteSet", .ok = false, .body = declared("Shift_JIS", "A"), .keys = {}},
        ParseCase{.name = "Ebcdic", .ok = false, .body = declared("EBCDIC-US", "A"), .keys = {}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
