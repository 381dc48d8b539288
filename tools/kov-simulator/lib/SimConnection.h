#pragma once
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>

#include "SimService.h"

namespace kovsim {

class SimConnection;

/// One request as it reached a connection.
struct SimHttpRequest {
  std::string method;
  std::string path;  ///< the target without its query
  std::string body;
  std::string raw;   ///< the bytes of the request as they arrived, head and body
  /// What the connection asked about before, for the service; the connection's own, valid
  /// while the request is routed.
  SimAsked* asked = nullptr;
};

/// What a connection asks of the server it belongs to; every call on the server's thread.
class SimConnectionOwner {
 public:
  /// Answers the request through answer, at once or later (on the server's thread).
  virtual void route(SimHttpRequest request, SimAnswer answer) = 0;
  /// Stops listening for good (the Refuse fault).
  virtual void refuse() = 0;
  /// The connection is gone.
  virtual void forget(SimConnection* connection) = 0;

 protected:
  ~SimConnectionOwner() = default;
};

/// One accepted connection, on the server's thread: reads requests (kept alive for 30 s
/// idle, up to 100000 of them, bodies up to 64 KiB), writes their answers and plays faults
/// on the wire. It waits on its socket and timers only; while a request is held by the
/// service the connection waits for nothing at all.
class SimConnection : public std::enable_shared_from_this<SimConnection> {
 public:
  virtual ~SimConnection() = default;

  /// Serves the accepted socket, over TLS when tls is given (with a handshake first).
  static std::shared_ptr<SimConnection> start(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls,
                                              SimConnectionOwner& owner);

  /// The server stops: an answer being written is finished first and the connection ends
  /// after it; an idle one, one in its handshake or one with a fault in play ends now.
  virtual void stop() = 0;
  /// Ends the connection now.
  virtual void close() = 0;
};

}  // namespace kovsim
