#include "CliButtonReader.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <utility>

namespace kovcli {

CliButtonReader::CliButtonReader(std::shared_ptr<KOVEventLoop> loop, std::function<void(const std::string&)> onLine)
    : _loop(std::move(loop)), _onLine(std::move(onLine)) {
  // Without a standard input (closed descriptor) there is nothing to read; a socket the
  // transport opens later may take descriptor 0 and must not be read here.
  if (::fcntl(STDIN_FILENO, F_GETFD) != -1) {
    _watching = true;
    _loop->watchSocket(STDIN_FILENO, KOVSocketRead, [this](uint32_t) { readAvailable(); });
  }
}

CliButtonReader::~CliButtonReader() { stop(); }

void CliButtonReader::stop() {
  if (_watching) {
    _watching = false;
    _loop->unwatchSocket(STDIN_FILENO);
  }
}

void CliButtonReader::readAvailable() {
  char chunk[512];
  const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
    return;  // the loop calls again while input is ready
  }
  if (n <= 0) {
    stop();  // end of input (or an error): no more presses
    return;
  }
  _pending.append(chunk, static_cast<std::size_t>(n));
  std::size_t eol;
  while ((eol = _pending.find('\n')) != std::string::npos) {
    std::string line = _pending.substr(0, eol);
    _pending.erase(0, eol + 1);
    const auto first = line.find_first_not_of(" \t\r");
    const auto last = line.find_last_not_of(" \t\r");
    _onLine(first == std::string::npos ? std::string() : line.substr(first, last - first + 1));
  }
  if (_pending.size() > 4096) _pending.clear();  // no line is that long
}

}  // namespace kovcli
