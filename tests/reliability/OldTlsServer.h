#pragma once
// A TLS server that speaks only TLS 1.0 and 1.1, on a thread of its own (Qt's TLS server
// cannot be held to protocols that old). It counts handshakes and application bytes.
#include <atomic>
#include <string>
#include <thread>

namespace kovrel {

class OldTlsServer {
 public:
  /// Serves the certificate and key of these PEM files on 127.0.0.1, a port the system picks.
  OldTlsServer(const std::string& certificateFile, const std::string& keyFile);
  ~OldTlsServer();  // stops and joins the thread
  OldTlsServer(const OldTlsServer&) = delete;
  OldTlsServer& operator=(const OldTlsServer&) = delete;

  bool listening() const { return listenFd_ >= 0; }
  int port() const { return port_; }
  int connections() const { return connections_.load(); }
  int handshakesCompleted() const { return handshakes_.load(); }
  long long applicationBytes() const { return bytes_.load(); }

 private:
  void serve();

  void* context_ = nullptr;  // SSL_CTX, kept opaque so the header needs no OpenSSL
  int listenFd_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int> handshakes_{0};
  std::atomic<long long> bytes_{0};
  std::thread thread_;
};

}  // namespace kovrel
