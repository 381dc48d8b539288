// kov-cli: runs one transaction from the command line and prints its result as JSON.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "CliOptions.h"
#include "CliRun.h"

namespace {

bool isOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

int main(int argc, char** argv) {
  // A reader gone from stdout (kov-cli ... | head) fails the write instead of ending the
  // program without a word: the result's loss is then reported, with exit status 3.
  std::signal(SIGPIPE, SIG_IGN);
  // A closed standard descriptor would be taken by the first socket, and the lines meant
  // for it would go to the service: each is held by /dev/null instead. Without stdout the
  // result would be lost outright, so nothing is sent then.
  const bool stdoutOpen = isOpen(STDOUT_FILENO);
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (!isOpen(fd)) {
      ::open("/dev/null", O_RDWR);  // the lowest free descriptor: fd, as those below are open
    }
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  const char* kovKey = std::getenv("KOV_KEY");
  auto parsed = kovcli::parseCliOptions(args, kovKey ? std::optional<std::string>(kovKey) : std::nullopt);
  if (const auto* error = std::get_if<kovcli::CliUsageError>(&parsed)) {
    std::fprintf(stderr, "%s\n", kovcli::usageErrorLine(error->message).c_str());
    return 2;
  }
  const auto& options = std::get<kovcli::CliOptions>(parsed);
  if (options.help) {
    std::fputs(kovcli::cliUsage().c_str(), stdout);
    return 0;
  }
  if (!stdoutOpen) {
    std::fputs("kov-cli: standard output is closed: the result would be lost, so nothing is sent\n", stderr);
    return 3;
  }
  if (options.pending) {
    return kovcli::listPending(options);
  }
  if (options.forget) {
    return kovcli::forgetEntry(options);
  }
  // Ctrl-C asks the terminal to cancel before it abandons anything.
  kovcli::blockInterrupts();
  return kovcli::runTransaction(options);
}
