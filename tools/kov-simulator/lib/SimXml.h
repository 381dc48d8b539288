#pragma once
#include <string_view>

#include <KOVModule/NSStringDictionary.h>

namespace kovsim {

/// KOVXmlUtils::ParseXML behind one process-wide lock. The parser keeps its element stack
/// in process-wide state, so the server's worker threads (and a client in the same process)
/// must never run it at the same time.
bool parseXml(std::string_view data, NSStringDictionary& result);

}  // namespace kovsim
