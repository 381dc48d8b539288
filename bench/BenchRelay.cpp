#include "BenchRelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

namespace kovbench {
namespace {

sockaddr_in loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

void noDelay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

}  // namespace

BenchRelay::BenchRelay(int serverPort) {
  _listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = loopback(0);
  socklen_t length = sizeof address;
  if (::bind(_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(_listener, 64) != 0 ||
      ::getsockname(_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;
  }
  _port = ntohs(address.sin_port);
  _acceptor = std::thread([this, serverPort] {
    for (;;) {
      const int client = ::accept4(_listener, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0 || _stopping) {
        if (client >= 0) ::close(client);
        return;
      }
      const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      const sockaddr_in to = loopback(serverPort);
      if (::connect(server, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        ::close(server);
        ::close(client);
        continue;
      }
      noDelay(client);
      noDelay(server);
      const std::lock_guard<std::mutex> guard(_lock);
      _sockets.insert(_sockets.end(), {client, server});
      _pumps.emplace_back([this, client, server] { pump(client, server, false); });
      _pumps.emplace_back([this, client, server] { pump(server, client, true); });
    }
  });
}

BenchRelay::~BenchRelay() {
  _stopping = true;
  ::shutdown(_listener, SHUT_RDWR);
  if (_acceptor.joinable()) _acceptor.join();
  ::close(_listener);
  std::vector<std::thread> pumps;
  {
    const std::lock_guard<std::mutex> guard(_lock);
    for (const int fd : _sockets) ::shutdown(fd, SHUT_RDWR);
    pumps.swap(_pumps);
  }
  for (std::thread& pump : pumps) pump.join();
  for (const int fd : _sockets) ::close(fd);
}

void BenchRelay::pump(int from, int to, bool answers) {
  char buffer[65536];
  for (ssize_t n; (n = ::read(from, buffer, sizeof buffer)) > 0;) {
    // Stamped before the write: once it returns, the client may have read the bytes and acted
    // on them before this thread runs again.
    if (answers) {
      const std::lock_guard<std::mutex> guard(_lock);
      _answers.push_back(Clock::now());
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t wrote = ::write(to, buffer + done, std::size_t(n - done));
      if (wrote <= 0) return;
      done += wrote;
    }
  }
  // One side ended: so does the other.
  ::shutdown(to, SHUT_WR);
}

BenchRelay::Clock::time_point BenchRelay::lastAnswerBefore(Clock::time_point before) const {
  const std::lock_guard<std::mutex> guard(_lock);
  const auto after = std::lower_bound(_answers.begin(), _answers.end(), before);
  return after == _answers.begin() ? Clock::time_point{} : *std::prev(after);
}

}  // namespace kovbench
