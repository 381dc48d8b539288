#include <KOVModule/KOVXmlUtils.h>

#include <KOVModule/KOVXmlParserDelegate.h>

#include <expat.h>

#include <algorithm>
#include <memory>

#include "util/KOVText.h"
#include "xml/KOVXml.h"

std::string KOVXmlUtils::HtmlEncode(const std::optional<std::string>& inputStr) {
  std::string out;
  out.reserve(64);
  if (inputStr) {
    kov::xml::appendEscaped(*inputStr, out);
  }
  return out;
}

void kov::xml::appendEscaped(std::string_view input, std::string& out) {
  // The five characters are ASCII, so working on UTF-8 bytes gives the same text as
  // working on UTF-16 units; runs without them are copied whole.
  std::size_t runStart = 0;
  for (std::size_t i = 0; i < input.size(); ++i) {
    const char* reference = nullptr;
    switch (input[i]) {
      case '<': reference = "&lt;"; break;
      case '>': reference = "&gt;"; break;
      case '&': reference = "&amp;"; break;
      case '\'': reference = "&#39;"; break;
      case '"': reference = "&quot;"; break;
      default: continue;
    }
    out.append(input, runStart, i - runStart);
    out += reference;
    runStart = i + 1;
  }
  out.append(input, runStart, std::string_view::npos);
}

namespace {

struct ParseState {
  XML_Parser parser = nullptr;
  KOVXmlParserDelegate* delegate = nullptr;
  int cdataDepth = 0;
  std::vector<std::pair<std::string_view, std::string_view>> attributes;
};

void XMLCALL onStart(void* userData, const XML_Char* name, const XML_Char** atts) {
  auto* state = static_cast<ParseState*>(userData);
  if (elementStack.size() >= static_cast<std::size_t>(kov::xml::kMaxDepth)) {
    XML_StopParser(state->parser, XML_FALSE);  // bounded memory for hostile answers
    return;
  }
  state->attributes.clear();
  for (const XML_Char** a = atts; a && a[0]; a += 2) {
    state->attributes.emplace_back(a[0], a[1]);
  }
  state->delegate->didStartElement(name, state->attributes);
}

void XMLCALL onEnd(void* userData, const XML_Char* name) {
  static_cast<ParseState*>(userData)->delegate->didEndElement(name);
}

void XMLCALL onCharacters(void* userData, const XML_Char* text, int length) {
  auto* state = static_cast<ParseState*>(userData);
  if (state->cdataDepth > 0) {
    return;  // text of a CDATA section is not stored
  }
  state->delegate->foundCharacters(std::string_view(text, static_cast<std::size_t>(length)));
}

void XMLCALL onCdataStart(void* userData) { ++static_cast<ParseState*>(userData)->cdataDepth; }
void XMLCALL onCdataEnd(void* userData) { --static_cast<ParseState*>(userData)->cdataDepth; }

// The service never sends a document type; one that comes is refused before any of its
// entities can be declared, so no entity expansion and no external file is ever reached.
void XMLCALL onDoctype(void* userData, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  XML_StopParser(static_cast<ParseState*>(userData)->parser, XML_FALSE);
}

// expat reads UTF-8, UTF-16, ISO-8859-1 and US-ASCII itself; services on some servers
// declare windows-1252, ISO-8859-15 and the like, which ICU describes byte by byte.
int XMLCALL onUnknownEncoding(void*, const XML_Char* name, XML_Encoding* info) {
  const std::optional<std::array<int32_t, 256>> table = kov::text::singleByteCharset(name);
  if (!table) {
    return XML_STATUS_ERROR;
  }
  std::copy(table->begin(), table->end(), info->map);
  info->data = nullptr;
  info->convert = nullptr;
  info->release = nullptr;
  return XML_STATUS_OK;
}

struct ParserFree {
  void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
};

}  // namespace

bool KOVXmlUtils::ParseXML(std::string_view data, NSStringDictionary& result) {
  result.clear();
  KOVXmlParserDelegate delegate;
  delegate.setResultDictionary(result);
  if (data.empty()) {
    return false;
  }
  std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser(XML_ParserCreate(nullptr));
  if (!parser) {
    return false;
  }
  ParseState state;
  state.parser = parser.get();
  state.delegate = &delegate;
  XML_SetUserData(parser.get(), &state);
  XML_SetElementHandler(parser.get(), onStart, onEnd);
  XML_SetCharacterDataHandler(parser.get(), onCharacters);
  XML_SetCdataSectionHandler(parser.get(), onCdataStart, onCdataEnd);
  XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);
  XML_SetParamEntityParsing(parser.get(), XML_PARAM_ENTITY_PARSING_NEVER);
  XML_SetUnknownEncodingHandler(parser.get(), onUnknownEncoding, nullptr);

  constexpr std::size_t kChunk = 1 << 20;
  for (std::size_t offset = 0; offset < data.size(); offset += kChunk) {
    const std::size_t length = std::min(kChunk, data.size() - offset);
    const bool last = offset + length == data.size();
    if (XML_Parse(parser.get(), data.data() + offset, static_cast<int>(length), last) != XML_STATUS_OK) {
      return false;
    }
  }
  return true;
}
