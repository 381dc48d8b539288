#include "BenchBridge.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace kovbench {
namespace {

bool sendAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t wrote = ::write(fd, text.data() + done, text.size() - done);
    if (wrote <= 0) return false;
    done += std::size_t(wrote);
  }
  return true;
}

}  // namespace

BenchBridge::BenchBridge(const std::string& program, const std::string& endpoint, const std::string& station) {
  char dir[] = "/tmp/kov-bench-bridge-XXXXXX";
  if (!::mkdtemp(dir)) return;
  _dir = dir;
  std::ofstream(_dir + "/key") << "s3cret\n";
  ::chmod((_dir + "/key").c_str(), 0600);
  _child = std::make_unique<BenchChild>(std::vector<std::string>{
      program, "--endpoint", endpoint, "--listen", "127.0.0.1:0", "--user", "merchant", "--station", station,
      "--key-file", _dir + "/key", "--token-file", _dir + "/token", "--journal", _dir + "/journal.db"});
  const std::string prefix = "kov-bridge listening on http://127.0.0.1:";
  if (_child->firstLine().rfind(prefix, 0) != 0) return;
  _port = std::atoi(_child->firstLine().c_str() + prefix.size());
  std::ifstream(_dir + "/token") >> _token;
}

BenchBridge::~BenchBridge() {
  _child.reset();
  if (!_dir.empty()) std::filesystem::remove_all(_dir);
}

int BenchBridge::connect() const {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(_port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

BenchBridge::Reply BenchBridge::call(const std::string& method, const std::string& path, const std::string& body) const {
  Reply reply;
  const int fd = connect();
  if (fd < 0) return reply;
  const std::string request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + _token +
                              "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
                              "\r\nConnection: close\r\n\r\n" + body;
  std::string answer;
  if (sendAll(fd, request)) {
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, std::size_t(n));
  }
  ::close(fd);
  const std::size_t split = answer.find("\r\n\r\n");
  if (answer.rfind("HTTP/1.1 ", 0) != 0 || split == std::string::npos) return reply;
  reply.status = std::atoi(answer.c_str() + 9);
  reply.body = answer.substr(split + 4);
  return reply;
}

BenchBridge::Reply BenchBridge::purchase(const std::string& txnRef) const {
  return call("POST", "/v1/transactions",
              R"({"type":"purchase","txnRef":")" + txnRef + R"(","amount":"12.50","currency":"AUD"})");
}

std::vector<BenchBridge::Event> BenchBridge::events(const std::string& txnRef) const {
  std::vector<Event> events;
  const int fd = connect();
  if (fd < 0) return events;
  const std::string request = "GET /v1/transactions/" + txnRef + "/events HTTP/1.1\r\nHost: 127.0.0.1\r\n" +
                              "Authorization: Bearer " + _token + "\r\nAccept: text/event-stream\r\n\r\n";
  std::string pending;
  bool headed = false;
  char buffer[65536];
  for (ssize_t n = sendAll(fd, request) ? 1 : 0; n > 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    const Clock::time_point at = Clock::now();
    pending.append(buffer, std::size_t(n));
    if (!headed) {
      const std::size_t split = pending.find("\r\n\r\n");
      if (split == std::string::npos) continue;
      headed = true;
      pending.erase(0, split + 4);
    }
    for (std::size_t end; (end = pending.find("\n\n")) != std::string::npos; pending.erase(0, end + 2)) {
      const std::string block = pending.substr(0, end);
      if (block.rfind("event: ", 0) != 0) continue;  // a keep-alive comment
      const std::size_t data = block.find("\ndata: ");
      events.push_back({block.substr(7, data - 7), data == std::string::npos ? "" : block.substr(data + 7), at});
    }
  }
  ::close(fd);
  return events;
}

}  // namespace kovbench
