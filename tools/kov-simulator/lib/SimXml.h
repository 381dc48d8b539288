#pragma once
#include <map>
#include <string>
#include <string_view>

namespace kovsim {

/// A document read as the client reads answers: each element's slash-joined path ("Scr/TxnRef")
/// to its text, and each attribute under its element's path, "/__" and its name.
using SimKeys = std::map<std::string, std::string>;

/// Reads a document into keys; false when it is not well-formed (or declares a document
/// type), with the keys read before the fault kept. Thread-safe: every call has its own parser.
bool parseXml(std::string_view data, SimKeys& keys);

}  // namespace kovsim
