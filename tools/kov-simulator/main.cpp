// kov-simulator: runs the simulated payment service until SIGINT or SIGTERM.
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>
#include <vector>

#include "SimOptions.h"
#include "SimServer.h"

int main(int argc, char** argv) {
  const kovsim::SimOptions options = kovsim::parseOptions(std::vector<std::string>(argv + 1, argv + argc));
  if (options.help) {
    std::cout << kovsim::usageText();
    return 0;
  }
  if (!options.error.empty()) {
    std::cerr << "kov-simulator: " << options.error << "\n";
    return 2;
  }

  // Every kept-alive till holds a descriptor: as many as the system lets this process have.
  rlimit files{};
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
  }

  // Blocked before any thread starts, so every thread inherits the mask and the signals
  // are taken only by the wait below.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  kovsim::SimServer server(options.config, [](const std::string& line) {
    std::fprintf(stderr, "kov-simulator: %s\n", line.c_str());
    std::fflush(stderr);
  });
  std::string error;
  if (!server.start(error)) {
    std::cerr << "kov-simulator: " << error << "\n";
    return 1;
  }
  std::cout << "kov-simulator listening on " << server.url() << std::endl;

  int taken = -1;
  while (taken < 0) {
    const timespec wait{1, 0};
    taken = sigtimedwait(&stopSignals, nullptr, &wait);
  }
  server.stop();
  return 0;
}
