#include "SimXml.h"

#include <expat.h>

#include <memory>
#include <vector>

namespace kovsim {
namespace {

struct Reader {
  XML_Parser parser = nullptr;
  SimKeys* keys = nullptr;
  std::vector<std::size_t> pathEnds;  // where each open element's path ends in path
  std::string path;
};

void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto* reader = static_cast<Reader*>(data);
  if (!reader->path.empty()) {
    reader->path += '/';
  }
  reader->path += name;
  reader->pathEnds.push_back(reader->path.size());
  for (const XML_Char** a = attributes; a[0]; a += 2) {
    (*reader->keys)[reader->path + "/__" + a[0]] = a[1];
  }
}

void XMLCALL onEnd(void* data, const XML_Char*) {
  auto* reader = static_cast<Reader*>(data);
  reader->pathEnds.pop_back();
  reader->path.resize(reader->pathEnds.empty() ? 0 : reader->pathEnds.back());
}

void XMLCALL onText(void* data, const XML_Char* text, int length) {
  auto* reader = static_cast<Reader*>(data);
  (*reader->keys)[reader->path].append(text, static_cast<std::size_t>(length));
}

// Requests never declare a document type; one that comes is refused before its entities.
void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
  XML_StopParser(static_cast<Reader*>(data)->parser, XML_FALSE);
}

}  // namespace

bool parseXml(std::string_view data, SimKeys& keys) {
  keys.clear();
  const std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(XML_ParserCreate("UTF-8"),
                                                                            &XML_ParserFree);
  if (!parser) {
    return false;
  }
  Reader reader{parser.get(), &keys, {}, {}};
  XML_SetUserData(parser.get(), &reader);
  XML_SetElementHandler(parser.get(), onStart, onEnd);
  XML_SetCharacterDataHandler(parser.get(), onText);
  XML_SetStartDoctypeDeclHandler(parser.get(), onDoctype);
  return XML_Parse(parser.get(), data.data(), static_cast<int>(data.size()), XML_TRUE) == XML_STATUS_OK;
}

}  // namespace kovsim
