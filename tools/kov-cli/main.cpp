// kov-cli: runs one transaction from the command line and prints its result as JSON.
#include <cstdio>
#include <string>
#include <variant>
#include <vector>

#include "CliOptions.h"
#include "CliRun.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = kovcli::parseCliOptions(args);
  if (const auto* error = std::get_if<kovcli::CliUsageError>(&parsed)) {
    std::fprintf(stderr, "%s\n", kovcli::usageErrorLine(error->message).c_str());
    return 2;
  }
  const auto& options = std::get<kovcli::CliOptions>(parsed);
  if (options.help) {
    std::fputs(kovcli::cliUsage(), stdout);
    return 0;
  }
  return kovcli::runTransaction(options);
}
