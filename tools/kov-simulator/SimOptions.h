#pragma once
#include <string>
#include <vector>

#include "SimConfig.h"

namespace kovsim {

/// The outcome of reading the command line.
struct SimOptions {
  SimConfig config;
  bool help = false;
  std::string error;  ///< one line, set when the command line is not usable
};

/// Reads the arguments after the program name.
SimOptions parseOptions(const std::vector<std::string>& args);

/// The --help text.
std::string usageText();

}  // namespace kovsim
