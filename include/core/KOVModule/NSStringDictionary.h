#pragma once
#include <map>
#include <string>

/// A path dictionary: slash-joined element path (or path + "/__" + attribute) to text.
using NSStringDictionary = std::map<std::string, std::string>;
