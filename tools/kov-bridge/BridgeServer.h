#pragma once
// The bridge's listening sockets and its connections: it moves bytes, the dispatcher decides.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "BridgeConnection.h"

namespace kovbridge {

/// Accepts connections on one or more addresses (one port), over TLS once useTls() has
/// succeeded, each served by a BridgeConnection, on the io_context's thread.
class BridgeServer {
 public:
  BridgeServer(boost::asio::io_context& io, BridgeDispatcher& dispatcher, BridgeLoopDriver& driver);
  ~BridgeServer();
  BridgeServer(const BridgeServer&) = delete;
  BridgeServer& operator=(const BridgeServer&) = delete;

  /// Serves https with this certificate chain and key (PEM files); false and why when not.
  bool useTls(const std::string& certificateFile, const std::string& keyFile, std::string& why);
  /// Listens on host (an address) and port (0: a free one, then the one the first listen
  /// chose); false and why when it cannot.
  bool listen(const std::string& host, int port, std::string& why);
  /// The bound port.
  int port() const { return _port; }
  bool tls() const { return _tls.has_value(); }
  /// Stops accepting and closes every connection, event streams included.
  void stop();

  /// After a failed accept (out of descriptors), the next one waits this long.
  static constexpr std::chrono::milliseconds kAcceptRetry{50};

 private:
  // An address listened on, with the timer of its retries.
  struct Listening {
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::steady_timer retry;
  };

  void accept(Listening& listening);

  boost::asio::io_context& _io;
  BridgeConnectionContext _context;
  std::optional<boost::asio::ssl::context> _tls;
  std::vector<std::unique_ptr<Listening>> _listening;
  std::map<BridgeConnection*, std::weak_ptr<BridgeConnection>> _connections;
  int _port = 0;
};

}  // namespace kovbridge
