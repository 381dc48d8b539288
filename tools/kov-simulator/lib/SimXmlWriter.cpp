#include "SimXmlWriter.h"

#include <stdexcept>
#include <utility>

namespace kovsim {
namespace {

// The five characters are ASCII, so UTF-8 passes through byte by byte unchanged.
void appendEscaped(std::string& out, std::string_view text) {
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
}

}  // namespace

SimXmlWriter& SimXmlWriter::open(std::string_view tag) {
  if (_open.empty() && !_out.empty()) {
    throw std::logic_error("a document has one root element");
  }
  endStartTag();
  _out += '<';
  _out += tag;
  _open.emplace_back(tag);
  _inStartTag = true;
  return *this;
}

SimXmlWriter& SimXmlWriter::attribute(std::string_view name, std::string_view value) {
  if (!_inStartTag) {
    throw std::logic_error("an attribute needs an element just opened");
  }
  _out += ' ';
  _out += name;
  _out += "=\"";
  appendEscaped(_out, value);
  _out += '"';
  return *this;
}

SimXmlWriter& SimXmlWriter::text(std::string_view text) {
  requireOpen("text");
  endStartTag();
  appendEscaped(_out, text);
  return *this;
}

SimXmlWriter& SimXmlWriter::close() {
  requireOpen("close");
  if (_inStartTag) {
    _out += " />";
    _inStartTag = false;
  } else {
    _out += "</";
    _out += _open.back();
    _out += '>';
  }
  _open.pop_back();
  return *this;
}

SimXmlWriter& SimXmlWriter::element(std::string_view tag, std::string_view value) {
  return open(tag).text(value).close();
}

std::string SimXmlWriter::finish() {
  while (!_open.empty()) {
    close();
  }
  return std::exchange(_out, {});
}

void SimXmlWriter::requireOpen(const char* what) const {
  if (_open.empty()) {
    throw std::logic_error(std::string(what) + " needs an open element");
  }
}

void SimXmlWriter::endStartTag() {
  if (_inStartTag) {
    _out += '>';
    _inStartTag = false;
  }
}

}  // namespace kovsim
