// The answer parser on arbitrary bytes: it must not crash, leak or grow without bound, and
// it may only report keys that another, independent XML parser finds in the same input
// before that parser's first error. Qt's stream reader is the reference: it shares no code
// with expat, so a key invented by our path building (or read past a fault) shows up here.
#include <KOVModule/KOVXmlUtils.h>

#include <QByteArray>
#include <QString>
#include <QXmlStreamReader>

#include <unicode/utf8.h>

#include "xml/KOVXml.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

namespace {

// Every key a conforming parse of the input's well-formed part yields: element paths with
// text (text of CDATA sections is not stored), and path + "/__" + attribute name.
std::set<std::string> referenceKeys(std::string_view data) {
  std::set<std::string> keys;
  QXmlStreamReader reader(QByteArray(data.data(), static_cast<qsizetype>(data.size())));
  // Prefixes are plain parts of a name here, as they are for the parser under test.
  reader.setNamespaceProcessing(false);
  std::string path;  // the open elements' names joined by '/', which no name holds
  while (!reader.atEnd()) {
    switch (reader.readNext()) {
      case QXmlStreamReader::StartElement:
        path += (path.empty() ? "" : "/") + reader.qualifiedName().toString().toStdString();
        for (const auto& attribute : reader.attributes()) {
          keys.insert(path + "/__" + attribute.qualifiedName().toString().toStdString());
        }
        break;
      case QXmlStreamReader::EndElement:
        path.resize(path.rfind('/') == std::string::npos ? 0 : path.rfind('/'));
        break;
      case QXmlStreamReader::Characters:
        if (!path.empty() && !reader.isCDATA()) keys.insert(path);
        break;
      case QXmlStreamReader::EntityReference:
        // An entity the reader could not resolve is still text of its element.
        if (!path.empty()) keys.insert(path);
        break;
      default:
        break;
    }
  }
  // At a fault (or the input's end) inside an element, the reader drops the text run it was
  // reading; the well-formed prefix before the fault has that text in the open element.
  if (reader.hasError() && !path.empty()) keys.insert(path);
  return keys;
}

// Length of the longest prefix that is well-formed UTF-8 (ICU's strict reading: no overlong
// forms, no surrogates, nothing above U+10FFFF).
std::size_t validUtf8Prefix(std::string_view s) {
  const auto length = static_cast<int32_t>(s.size());
  for (int32_t i = 0; i < length;) {
    const int32_t start = i;
    UChar32 c = 0;
    U8_NEXT(s.data(), i, length, c);
    if (c < 0) return static_cast<std::size_t>(start);
  }
  return s.size();
}

// Whether the input declares a document type, as the reference reader sees it: the same
// characters inside a comment, a CDATA section or a processing instruction declare nothing.
bool hasDoctype(std::string_view data) {
  QXmlStreamReader reader(QByteArray(data.data(), static_cast<qsizetype>(data.size())));
  while (!reader.atEnd()) {
    if (reader.readNext() == QXmlStreamReader::DTD) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  std::string_view data(reinterpret_cast<const char*>(bytes), size);
  NSStringDictionary result;
  const bool wellFormed = KOVXmlUtils::ParseXML(data, result);

  // Whatever the input, a key is a path of at most kMaxDepth element names.
  for (const auto& [key, value] : result) {
    if (key.empty() || std::count(key.begin(), key.end(), '/') > kov::xml::kMaxDepth) {
      std::fprintf(stderr, "key out of shape: '%s'\n", key.c_str());
      std::abort();
    }
  }

  // A document type is refused at once, whatever it declares.
  if (wellFormed && hasDoctype(data)) {
    std::fprintf(stderr, "a document with a DOCTYPE parsed as well-formed\n");
    std::abort();
  }

  // Only documents in the encoding the service uses are compared: the two parsers choose
  // differently among declared encodings they do not both support.
  if (data.find("encoding") != std::string_view::npos) return 0;
  if (size >= 2 && (static_cast<unsigned char>(data[0]) == 0xFE || static_cast<unsigned char>(data[0]) == 0xFF)) {
    return 0;  // a UTF-16 byte order mark
  }
  // The comparison runs on a copy both parsers read alike, parsed again by the parser
  // under test: cut before the first invalid UTF-8 (Qt's reader decodes ahead and fails
  // the whole block), and without colons (Qt's reader checks names as namespace-qualified
  // even with namespaces off: "a:1" is a fault there and a name for expat). An input whose
  // very start Qt's reader refuses ends the comparison: a declaration with a version other than
  // 1.0 or 1.1, after a byte order mark or not, which expat reads.
  std::string plain(data.substr(0, validUtf8Prefix(data)));
  std::replace(plain.begin(), plain.end(), ':', '_');
  QXmlStreamReader declaration(QByteArray(plain.data(), static_cast<qsizetype>(plain.size())));
  if (declaration.readNext() == QXmlStreamReader::Invalid) return 0;
  if (plain != std::string_view(data)) {
    KOVXmlUtils::ParseXML(plain, result);
  }
  data = plain;

  const std::set<std::string> reference = referenceKeys(data);
  for (const auto& [key, value] : result) {
    if (!reference.count(key)) {
      std::fprintf(stderr, "key '%s' is not in the reference parse (%zu reference keys)\n", key.c_str(),
                   reference.size());
      std::abort();
    }
  }
  return 0;
}
