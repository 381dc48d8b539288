#pragma once
// One connection of a page (or of a monitoring scrape) to the bridge.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace kovbridge {

class BridgeDispatcher;
class BridgeLoopDriver;
class BridgeConnection;
struct BridgeEvent;

/// What every connection of a server shares.
struct BridgeConnectionContext {
  BridgeDispatcher& dispatcher;
  BridgeLoopDriver& driver;
  /// The connection is gone.
  std::function<void(BridgeConnection*)> forget;
};

/// Reads requests (bodies up to 16 KiB, kept alive while idle for a minute), writes their
/// answers, and holds an event stream open until its result, its client leaving or close();
/// a comment line every kKeepAliveInterval keeps a quiet stream open through proxies and
/// browsers.
class BridgeConnection : public std::enable_shared_from_this<BridgeConnection> {
 public:
  virtual ~BridgeConnection() = default;

  /// Serves the accepted socket, over TLS when tls is given.
  static std::shared_ptr<BridgeConnection> start(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls,
                                                 BridgeConnectionContext& context);

  /// Ends the connection now (an event stream included).
  virtual void close() = 0;

  /// The largest request body read.
  static constexpr std::size_t kMaxBodyBytes = 16 * 1024;
  /// How long a stream stays quiet before a comment line goes out: the only wake-up of an
  /// idle bridge.
  static constexpr std::chrono::seconds kKeepAliveInterval{15};

  /// One event as the stream carries it.
  static std::string eventText(const BridgeEvent& event);
  /// The comment line of a quiet stream, which a reader of the events skips.
  static std::string keepAliveText();
};

}  // namespace kovbridge
