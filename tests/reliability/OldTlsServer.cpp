#include "OldTlsServer.h"

#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace kovrel {
namespace {

SSL_CTX* ctx(void* p) { return static_cast<SSL_CTX*>(p); }

}  // namespace

OldTlsServer::OldTlsServer(const std::string& certificateFile, const std::string& keyFile) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  context_ = context;
  // The old versions need the lowest security level to be offered at all.
  SSL_CTX_set_security_level(context, 0);
  SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
  if (SSL_CTX_use_certificate_file(context, certificateFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
    return;
  }
  listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listenFd_, 8) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listenFd_);
    listenFd_ = -1;
    return;
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { serve(); });
}

OldTlsServer::~OldTlsServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
  SSL_CTX_free(ctx(context_));
}

void OldTlsServer::serve() {
  while (!stop_) {
    pollfd waiting{listenFd_, POLLIN, 0};
    if (::poll(&waiting, 1, 50) <= 0) continue;  // wakes up to see the stop flag
    const int fd = ::accept(listenFd_, nullptr, nullptr);
    if (fd < 0) continue;
    ++connections_;
    const timeval limit{2, 0};  // a silent client cannot hold the thread (and the test's end)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SSL* ssl = SSL_new(ctx(context_));
    SSL_set_fd(ssl, fd);
    if (SSL_accept(ssl) == 1) {
      ++handshakes_;
      char buffer[4096];
      int read = 0;
      while ((read = SSL_read(ssl, buffer, sizeof buffer)) > 0) bytes_ += read;
    }
    SSL_free(ssl);
    ::close(fd);
  }
}

}  // namespace kovrel
