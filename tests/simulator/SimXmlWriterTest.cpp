// The simulator's own writer: the exact bytes it puts in an answer, and what the library's
// parser reads back from them, so that writer and client agree without sharing any code.
#include <gtest/gtest.h>

#include <KOVModule/KOVXmlUtils.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "SimXmlWriter.h"

using namespace kovsim;

namespace {

// A row: its name, what is written, the document (or "refused: " and why), and the keys the
// library's parser reads from it, each "key=value;".
struct WriterRow {
  const char* name;
  std::function<void(SimXmlWriter&)> write;
  std::string document;
  std::string keys;
};

void PrintTo(const WriterRow& row, std::ostream* out) { *out << row.name; }

class SimXmlWriterRows : public testing::TestWithParam<WriterRow> {};

TEST_P(SimXmlWriterRows, WritesTheAnswerTheClientReadsBack) {
  const WriterRow& row = GetParam();
  SimXmlWriter xml;
  std::string document;
  try {
    row.write(xml);
    document = xml.finish();
  } catch (const std::logic_error& refusal) {
    document = std::string("refused: ") + refusal.what();
  }
  EXPECT_EQ(document, row.document);
  NSStringDictionary read;
  EXPECT_EQ(KOVXmlUtils::ParseXML(document, read), !row.keys.empty());
  std::string keys;
  for (const auto& [key, value] : read) keys += key + "=" + value + ";";
  EXPECT_EQ(keys, row.keys);
}

INSTANTIATE_TEST_SUITE_P(Rows, SimXmlWriterRows, testing::Values(
    WriterRow{"FiveCharactersEscapedElsewhereUnchanged",
              [](auto& x) { x.open("Scr").element("DL1", "<&'\">").element("DL2", "caf\xc3\xa9 \xe2\x82\xac\nA"); },
              "<Scr><DL1>&lt;&amp;&#39;&quot;&gt;</DL1><DL2>caf\xc3\xa9 \xe2\x82\xac\nA</DL2></Scr>",
              "Scr/DL1=<&'\">;Scr/DL2=caf\xc3\xa9 \xe2\x82\xac\nA;"},
    WriterRow{"AttributesInOrderEscapedBeforeText",
              [](auto& x) { x.open("Scr").attribute("z", "a\"b").attribute("a", "<'>").open("B1").attribute("en", "1").text("OK"); },
              "<Scr z=\"a&quot;b\" a=\"&lt;&#39;&gt;\"><B1 en=\"1\">OK</B1></Scr>",
              "Scr/B1=OK;Scr/B1/__en=1;Scr/__a=<'>;Scr/__z=a\"b;"},
    WriterRow{"NestedAndClosedByFinish",
              [](auto& x) { x.open("Scr").element("Complete", "1").open("Result").element("AP", "0").element("RC", "51"); },
              "<Scr><Complete>1</Complete><Result><AP>0</AP><RC>51</RC></Result></Scr>",
              "Scr/Complete=1;Scr/Result/AP=0;Scr/Result/RC=51;"},
    WriterRow{"EmptyTextAndNoContentDiffer",
              [](auto& x) { x.open("Scr").open("B2").attribute("en", "0").text("").close().open("Result").close(); },
              "<Scr><B2 en=\"0\"></B2><Result /></Scr>", "Scr/B2/__en=0;"},
    WriterRow{"AttributeAfterContentRefused",
              [](auto& x) { x.open("Scr").text("x").attribute("en", "1"); },
              "refused: an attribute needs an element just opened", ""},
    WriterRow{"SecondRootRefused", [](auto& x) { x.element("Scr", "").open("Scr"); },
              "refused: a document has one root element", ""},
    WriterRow{"CloseWithNothingOpenRefused", [](auto& x) { x.close(); }, "refused: close needs an open element", ""}),
    [](const testing::TestParamInfo<WriterRow>& info) { return std::string(info.param.name); });

}  // namespace
