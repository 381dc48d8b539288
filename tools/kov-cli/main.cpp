// kov-cli: runs one transaction from the command line and prints its result as JSON.
#include <QCoreApplication>

#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "CliOptions.h"
#include "CliRun.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = kovcli::parseCliOptions(args);
  if (const auto* error = std::get_if<kovcli::CliUsageError>(&parsed)) {
    std::cerr << kovcli::usageErrorLine(error->message) << std::endl;
    return 2;
  }
  const auto& options = std::get<kovcli::CliOptions>(parsed);
  if (options.help) {
    std::cout << kovcli::cliUsage();
    return 0;
  }
  QCoreApplication app(argc, argv);
  return kovcli::runTransaction(options);
}
