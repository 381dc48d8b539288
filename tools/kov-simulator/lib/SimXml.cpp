#include "SimXml.h"

#include <mutex>

#include <KOVModule/KOVXmlUtils.h>

namespace kovsim {

bool parseXml(std::string_view data, NSStringDictionary& result) {
  static std::mutex parserLock;
  const std::lock_guard<std::mutex> lock(parserLock);
  return KOVXmlUtils::ParseXML(data, result);
}

}  // namespace kovsim
