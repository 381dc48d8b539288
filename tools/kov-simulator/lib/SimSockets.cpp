#include "SimSockets.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <vector>

namespace kovsim {
namespace {

struct Endpoint {
  std::string address;
  int port = -1;
};

bool endpointOf(int fd, bool peer, Endpoint& endpoint) {
  sockaddr_storage storage{};
  socklen_t length = sizeof storage;
  auto* address = reinterpret_cast<sockaddr*>(&storage);
  if ((peer ? getpeername(fd, address, &length) : getsockname(fd, address, &length)) != 0) {
    return false;
  }
  char text[INET6_ADDRSTRLEN] = {};
  if (storage.ss_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(&storage);
    inet_ntop(AF_INET, &in->sin_addr, text, sizeof text);
    endpoint.port = ntohs(in->sin_port);
  } else if (storage.ss_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(&storage);
    inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text);
    endpoint.port = ntohs(in6->sin6_port);
  } else {
    return false;
  }
  endpoint.address = text;
  return true;
}

// The server library does not hand out the socket of a request, so the connection is
// found among this process's descriptors by its two ends. act ends it; the number ended.
int forEachConnection(int localPort, const std::function<bool(const Endpoint&)>& wanted,
                      const std::function<bool(int fd)>& act) {
  std::vector<int> fds;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    fds.push_back(std::atoi(entry.path().filename().c_str()));
  }
  int count = 0;
  for (const int fd : fds) {
    struct stat info {};
    Endpoint local;
    Endpoint peer;
    if (fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode) || !endpointOf(fd, false, local) ||
        local.port != localPort || !endpointOf(fd, true, peer) || !wanted(peer)) {
      continue;
    }
    if (act(fd)) {
      ++count;
    }
  }
  return count;
}

bool shutDown(int fd) { return shutdown(fd, SHUT_RDWR) == 0; }

}  // namespace

bool shutdownConnection(int localPort, const std::string& peerAddress, int peerPort) {
  return forEachConnection(
             localPort, [&](const Endpoint& peer) { return peer.port == peerPort && peer.address == peerAddress; },
             shutDown) > 0;
}

bool resetConnection(int localPort, const std::string& peerAddress, int peerPort) {
  return forEachConnection(
             localPort, [&](const Endpoint& peer) { return peer.port == peerPort && peer.address == peerAddress; },
             [](int fd) {
               // Connecting a TCP socket to AF_UNSPEC drops the connection with a reset, as
               // a close with a zero linger would, without closing the descriptor.
               sockaddr unspecified{};
               unspecified.sa_family = AF_UNSPEC;
               return connect(fd, &unspecified, sizeof unspecified) == 0;
             }) > 0;
}

int shutdownConnections(int localPort, const std::set<std::pair<std::string, int>>& spare) {
  return forEachConnection(
      localPort, [&](const Endpoint& peer) { return !spare.count({peer.address, peer.port}); }, shutDown);
}

}  // namespace kovsim
