#include "BridgeConnection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/ssl/stream_base.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <array>
#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

#include "BridgeDispatcher.h"
#include "BridgeLog.h"
#include "BridgeLoopDriver.h"
#include "ServerStreams.h"

namespace kovbridge {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

using kovtools::openStream;
using kovtools::PlainStream;
using kovtools::TlsStream;

constexpr std::chrono::seconds kIdle{60};
constexpr std::size_t kMaxHeaderBytes = 16 * 1024;

std::string head(const BridgeReply& reply, std::optional<std::size_t> length, bool keepAlive) {
  std::string text = kovtools::statusLine(static_cast<unsigned>(reply.status));
  if (!reply.contentType.empty()) text += "Content-Type: " + reply.contentType + "\r\n";
  if (length) text += "Content-Length: " + std::to_string(*length) + "\r\n";
  for (const auto& [name, value] : reply.headers) text += name + ": " + value + "\r\n";
  text += "Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n";
  text += keepAlive ? "Connection: keep-alive\r\n" : "Connection: close\r\n";
  return text + "\r\n";
}

std::optional<std::string> header(const http::request<http::string_body>& request, http::field field) {
  const auto found = request.find(field);
  if (found == request.end()) return std::nullopt;
  return std::string(found->value());
}

template <class Stream>
class Connection final : public BridgeConnection {
 public:
  Connection(tcp::socket socket, asio::ssl::context* tls, BridgeConnectionContext& context)
      : _stream(openStream<Stream>(std::move(socket), tls)), _context(context), _keepAliveTimer(_stream.get_executor()) {}
  ~Connection() override {
    if (_subscription) _context.dispatcher.unsubscribe(*_subscription);
    _context.forget(this);
  }

  void begin() {
    lowest().expires_after(kIdle);
    if constexpr (std::is_same_v<Stream, TlsStream>) {
      _stream.async_handshake(asio::ssl::stream_base::server, [self = self()](error_code error) {
        if (error) {
          self->close();
          return;
        }
        self->readRequest();
      });
    } else {
      readRequest();
    }
  }

  void close() override {
    if (_closed) return;
    _closed = true;
    if (_subscription) {
      _context.dispatcher.unsubscribe(*_subscription);
      _subscription.reset();
    }
    _keepAliveTimer.cancel();
    error_code ignored;
    lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
    lowest().close();
  }

 private:
  std::shared_ptr<Connection> self() { return std::static_pointer_cast<Connection>(shared_from_this()); }
  beast::tcp_stream& lowest() { return beast::get_lowest_layer(_stream); }

  void readRequest() {
    _parser.emplace();
    _parser->body_limit(kMaxBodyBytes);
    _parser->header_limit(kMaxHeaderBytes);
    lowest().expires_after(kIdle);
    http::async_read(_stream, _buffer, *_parser, [self = self()](error_code error, std::size_t) {
      self->requestRead(error);
    });
  }

  void requestRead(error_code error) {
    if (_closed) return;
    if (error == http::error::body_limit) {
      const BridgeReply reply = BridgeReply::of(413, "{\"error\":\"the body is over 16 KiB\"}");
      logLine(std::string(_parser->get().method_string()) + " with a body over 16 KiB -> 413");
      send(head(reply, reply.body.size(), false) + reply.body, true);
      return;
    }
    if (error) {
      close();
      return;
    }
    const http::request<http::string_body>& read = _parser->get();
    BridgeHttpRequest request{
        .method = std::string(read.method_string()),
        .target = std::string(read.target()),
        .host = header(read, http::field::host),
        .origin = header(read, http::field::origin),
        .authorization = header(read, http::field::authorization),
        .preflight = read.find(http::field::access_control_request_method) != read.end(),
        .body = read.body(),
    };
    const bool keepAlive = read.keep_alive();
    BridgeReply reply = _context.dispatcher.dispatch(request);
    _context.driver.kick();
    if (reply.events) {
      openEvents(std::move(reply));
      return;
    }
    send(head(reply, reply.body.size(), keepAlive) + reply.body, !keepAlive);
    if (keepAlive) _readAfterWrite = true;
  }

  void openEvents(BridgeReply reply) {
    std::weak_ptr<Connection> weak = self();
    const BridgeSubscription subscription = _context.dispatcher.subscribe(*reply.events, [weak](const BridgeEvent& event) {
      if (auto connection = weak.lock()) connection->deliver(event);
    });
    if (!subscription.known) {
      BridgeReply missing = BridgeReply::of(404, "{\"error\":\"no such transaction\"}");
      missing.headers = reply.headers;
      send(head(missing, missing.body.size(), false) + missing.body, true);
      return;
    }
    if (!subscription.ended) _subscription = subscription.id;
    // A stream lasts as long as its payment: no idle limit, a comment line keeps it open.
    lowest().expires_never();
    std::string text = head(reply, std::nullopt, false);
    for (const BridgeEvent& event : subscription.backlog) text += eventText(event);
    send(std::move(text), subscription.ended);
    if (!subscription.ended) {
      watchPeer();
      armKeepAlive();
    }
  }

  void deliver(const BridgeEvent& event) {
    const bool last = event.name == "result";
    if (last) _subscription.reset();
    send(eventText(event), last);
  }

  // The client's leaving shows as the end of its side of the stream.
  void watchPeer() {
    _stream.async_read_some(asio::buffer(_scrap), [self = self()](error_code error, std::size_t) {
      if (error) {
        self->close();
        return;
      }
      if (!self->_closed) self->watchPeer();
    });
  }

  void armKeepAlive() {
    _keepAliveTimer.expires_after(kKeepAliveInterval);
    _keepAliveTimer.async_wait([self = self()](error_code error) {
      if (error || self->_closed) return;
      self->send(keepAliveText(), false);
      self->armKeepAlive();
    });
  }

  void send(std::string text, bool closeAfter) {
    if (_closed) return;
    _out.push_back({std::move(text), closeAfter});
    if (!_writing) writeNext();
  }

  void writeNext() {
    if (_out.empty() || _closed) return;
    _writing = true;
    asio::async_write(_stream, asio::buffer(_out.front().first), [self = self()](error_code error, std::size_t) {
      self->_writing = false;
      const bool closeAfter = self->_out.front().second;
      self->_out.pop_front();
      if (error || closeAfter) {
        self->close();
        return;
      }
      if (!self->_out.empty()) {
        self->writeNext();
      } else if (self->_readAfterWrite) {
        self->_readAfterWrite = false;
        self->readRequest();
      }
    });
  }

  Stream _stream;
  BridgeConnectionContext& _context;
  asio::steady_timer _keepAliveTimer;
  beast::flat_buffer _buffer;
  std::optional<http::request_parser<http::string_body>> _parser;
  std::deque<std::pair<std::string, bool>> _out;
  std::array<char, 512> _scrap{};
  std::optional<uint64_t> _subscription;
  bool _writing = false;
  bool _readAfterWrite = false;
  bool _closed = false;
};

}  // namespace

std::string BridgeConnection::eventText(const BridgeEvent& event) {
  return "event: " + event.name + "\ndata: " + event.data + "\n\n";
}

std::string BridgeConnection::keepAliveText() { return ": keep-alive\n\n"; }

std::shared_ptr<BridgeConnection> BridgeConnection::start(tcp::socket socket, asio::ssl::context* tls,
                                                          BridgeConnectionContext& context) {
  if (tls) {
    auto connection = std::make_shared<Connection<TlsStream>>(std::move(socket), tls, context);
    connection->begin();
    return connection;
  }
  auto connection = std::make_shared<Connection<PlainStream>>(std::move(socket), nullptr, context);
  connection->begin();
  return connection;
}

}  // namespace kovbridge
