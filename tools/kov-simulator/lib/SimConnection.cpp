#include "SimConnection.h"

#include <boost/asio/ssl/stream_base.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <chrono>
#include <cstdio>
#include <functional>
#include <iterator>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>

#include "ServerStreams.h"
#include "SimDocuments.h"

namespace kovsim {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using boost::system::error_code;

using kovtools::openStream;
using kovtools::PlainStream;
using kovtools::TlsStream;

constexpr std::size_t kKeepAliveMaxCount = 100000;
constexpr std::chrono::seconds kKeepAlive{30};
constexpr std::size_t kMaxRequestBytes = 64 * 1024;
constexpr std::size_t kReadBytes = 16 * 1024;
// A cut answer stops this long before its reset, so what was sent surely reached the client.
constexpr int kCutPauseMs = 200;
constexpr int kTricklePieces = 10;
// What the oversize faults without an end send: one byte over the client's cap.
constexpr std::size_t kOverCapBytes = kClientCapBytes + 1;
// The HugeHeader fault's header line, over the 100 KiB a client keeps of one.
constexpr std::size_t kHugeHeaderBytes = 150 * 1024;
// How much longer the DoubleLength fault's second Content-Length is than the body.
constexpr std::size_t kSecondLengthExtra = 10;
// What an HTTP/2-only server sends to a client that spoke HTTP/1.1: its preface (a SETTINGS
// frame: at most 100 streams at once), then GOAWAY with PROTOCOL_ERROR, since the client's
// first bytes were not HTTP/2's.
constexpr unsigned char kHttp2Refusal[] = {
    0x00, 0x00, 0x06, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x64,  // SETTINGS
    0x00, 0x00, 0x08, 0x07, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01,  // GOAWAY
};

// How an answer's body is delimited.
enum class Framing { Length, Chunked, ToClose };

// The answer's head; more: header lines a fault adds at its end.
std::string head(const SimReply& reply, Framing framing, std::size_t length, bool close, const std::string& more = "") {
  std::string text = kovtools::statusLine(static_cast<unsigned>(reply.status));
  if (!reply.contentType.empty()) {
    text += "Content-Type: " + reply.contentType + "\r\n";
  }
  if (!reply.location.empty()) {
    text += "Location: " + reply.location + "\r\n";
  }
  if (!reply.retryAfter.empty()) {
    text += "Retry-After: " + reply.retryAfter + "\r\n";
  }
  if (framing == Framing::Length) {
    text += "Content-Length: " + std::to_string(length) + "\r\n";
  } else if (framing == Framing::Chunked) {
    text += "Transfer-Encoding: chunked\r\n";
  }
  if (close || framing == Framing::ToClose) {
    text += "Connection: close\r\n";
  }
  return text + more + "\r\n";
}

std::string chunk(std::string_view data) {
  char size[24];
  std::snprintf(size, sizeof size, "%zx\r\n", data.size());
  return size + std::string(data) + "\r\n";
}

bool expectsContinue(const http::request<http::string_body>& request) {
  return beast::iequals(request[http::field::expect], "100-continue");
}

template <class Stream>
class Connection final : public SimConnection {
 public:
  Connection(tcp::socket socket, asio::ssl::context* tls, SimConnectionOwner& owner)
      : _stream(openStream<Stream>(std::move(socket), tls)), _owner(owner), _timer(_stream.get_executor()) {}
  ~Connection() override { _owner.forget(this); }

  void begin() {
    if constexpr (std::is_same_v<Stream, TlsStream>) {
      lowest().expires_after(kKeepAlive);
      _stream.async_handshake(asio::ssl::stream_base::server, [self = self()](error_code error) {
        if (error || self->_closed) {
          self->close();
          return;
        }
        self->readRequest();
      });
    } else {
      readRequest();
    }
  }

  void stop() override {
    _stopping = true;
    // An answer being written ends the connection when it is done; a held request gets
    // its answer from the service's shutdown first.
    if (_phase != Phase::Answering && _phase != Phase::Waiting) {
      close();
    }
  }

  void close() override { end(false); }

 private:
  enum class Phase { Opening, Reading, Waiting, Answering, Playing };

  std::shared_ptr<Connection> self() { return std::static_pointer_cast<Connection>(shared_from_this()); }
  beast::tcp_stream& lowest() { return beast::get_lowest_layer(_stream); }

  // Ends the connection: with its orderly end (FIN), or reset (RST).
  void end(bool reset) {
    if (_closed) {
      return;
    }
    _closed = true;
    _timer.cancel();
    error_code ignored;
    tcp::socket& socket = lowest().socket();
    if (reset) {
      socket.set_option(tcp::socket::linger(true, 0), ignored);
    } else {
      socket.shutdown(tcp::socket::shutdown_both, ignored);
    }
    lowest().close();
  }

  void readRequest() {
    _phase = Phase::Reading;
    _parser.emplace();
    _parser->body_limit(kMaxRequestBytes);
    _parser->eager(true);
    _raw.clear();
    _continued = false;
    lowest().expires_after(kKeepAlive);
    parse();
  }

  // Feeds what was read to the parser, keeping the bytes it takes; reads more until the
  // request is whole.
  void parse() {
    while (!_parser->is_done()) {
      if (_buffer.size() == 0) {
        readMore();
        return;
      }
      error_code error;
      const std::size_t used = _parser->put(_buffer.data(), error);
      _raw.append(static_cast<const char*>(_buffer.data().data()), used);
      _buffer.consume(used);
      if (error == http::error::need_more || (!error && used == 0)) {
        readMore();
        return;
      }
      if (error) {
        refuseRequest(error == http::error::body_limit ? 413 : 400);
        return;
      }
      if (_parser->is_header_done() && !_parser->is_done() && !_continued && expectsContinue(_parser->get())) {
        _continued = true;
        send("HTTP/1.1 100 Continue\r\n\r\n", [this] {
          _phase = Phase::Reading;
          parse();
        });
        return;
      }
    }
    dispatch();
  }

  // Hands the whole request to the server; its answer comes through play().
  void dispatch() {
    lowest().expires_never();
    http::request<http::string_body>& message = _parser->get();
    _keepAlive = message.keep_alive() && ++_served < kKeepAliveMaxCount;
    const beast::string_view target = message.target();
    SimHttpRequest request{std::string(message.method_string()), std::string(target.substr(0, target.find('?'))),
                           std::move(message.body()), std::move(_raw), &_asked};
    _phase = Phase::Waiting;
    _owner.route(std::move(request), [self = self()](SimReply reply) { self->play(std::move(reply)); });
  }

  void readMore() {
    _stream.async_read_some(_buffer.prepare(kReadBytes), [self = self()](error_code error, std::size_t n) {
      if (error || self->_closed) {
        self->close();
        return;
      }
      self->_buffer.commit(n);
      self->parse();
    });
  }

  void refuseRequest(int status) {
    SimReply reply;
    reply.status = status;
    reply.contentType.clear();
    send(head(reply, Framing::Length, 0, true), [this] { close(); });
  }

  // Writes the reply, or plays its fault on the connection.
  void play(SimReply reply) {
    if (_closed) {
      return;
    }
    const bool closing = !_keepAlive || _stopping;
    auto body = std::make_shared<const std::string>(std::move(reply.body));
    const auto reset = [this] { end(true); };
    switch (reply.fault) {
      case SimFault::None:
        send(head(reply, Framing::Length, body->size(), closing) + *body, [this] { answered(); });
        return;
      case SimFault::Refuse:
        _owner.refuse();  // first, so that no retry finds the simulator still listening
        end(false);
        return;
      case SimFault::Close:
        end(false);
        return;
      case SimFault::Reset:
        end(true);
        return;
      case SimFault::HugeHeader:
        send(head(reply, Framing::Length, body->size(), closing,
                  "X-Padding: " + std::string(kHugeHeaderBytes, 'x') + "\r\n") + *body,
             [this] { answered(); });
        return;
      case SimFault::DoubleLength:
        send(head(reply, Framing::Length, body->size(), closing,
                  "Content-Length: " + std::to_string(body->size() + kSecondLengthExtra) + "\r\n") + *body,
             [this] { answered(); });
        return;
      case SimFault::Http2Only:
        send(std::string(std::begin(kHttp2Refusal), std::end(kHttp2Refusal)), [this] { close(); });
        break;
      case SimFault::ResetBody:
        send(head(reply, Framing::Chunked, 0, closing) + chunk(std::string_view(*body).substr(0, body->size() / 2)),
             reset);
        break;
      case SimFault::Cut:
        send(head(reply, Framing::Length, body->size(), closing) + body->substr(0, body->size() / 2),
             [this, reset] { after(kCutPauseMs, reset); });
        break;
      case SimFault::Trickle:
        send(head(reply, Framing::Length, body->size(), closing),
             [this, body, gapMs = reply.playMs / kTricklePieces] { trickle(body, 0, gapMs); });
        break;
      case SimFault::Oversize:
        send(head(reply, Framing::Chunked, 0, closing), [this] {
          sendOversize(0, std::string::npos, true, [this] { send(chunk(""), [this] { answered(); }); });
        });
        break;
      case SimFault::OversizeLength:
        send(head(reply, Framing::Length, kOverCapBytes, closing),
             [this, holdMs = reply.playMs] { after(holdMs, [this] { close(); }); });
        break;
      case SimFault::OversizeOpen:
        send(head(reply, Framing::ToClose, 0, true), [this, holdMs = reply.playMs] {
          sendOversize(0, kOverCapBytes, false, [this, holdMs] { after(holdMs, [this] { close(); }); });
        });
        break;
      default:
        end(false);
        return;
    }
    _phase = Phase::Playing;
  }

  // The answer is written whole: the next request, or the end.
  void answered() {
    if (!_keepAlive || _stopping) {
      close();
    } else {
      readRequest();
    }
  }

  // The body in kTricklePieces pieces, each after a gap.
  void trickle(const std::shared_ptr<const std::string>& body, std::size_t offset, int gapMs) {
    if (offset >= body->size()) {
      answered();
      return;
    }
    const std::size_t piece = (body->size() + kTricklePieces - 1) / kTricklePieces;
    after(gapMs, [this, body, offset, piece, gapMs] {
      send(body->substr(offset, piece), [this, body, offset, piece, gapMs] { trickle(body, offset + piece, gapMs); });
    });
  }

  // The oversize screen from offset up to limit bytes, piece by piece (as chunks or plain).
  void sendOversize(std::size_t offset, std::size_t limit, bool chunked, std::function<void()> then) {
    const std::string_view piece = oversizePiece(offset).substr(0, limit - offset);
    if (piece.empty()) {
      then();
      return;
    }
    send(chunked ? chunk(piece) : std::string(piece), [this, offset, limit, chunked, then, size = piece.size()] {
      sendOversize(offset + size, limit, chunked, then);
    });
  }

  // Writes the bytes, then runs then; a failed write ends the connection.
  void send(std::string bytes, std::function<void()> then) {
    if (_phase != Phase::Playing) {
      _phase = Phase::Answering;
    }
    auto data = std::make_shared<const std::string>(std::move(bytes));
    lowest().expires_after(kKeepAlive);
    asio::async_write(_stream, asio::buffer(*data),
                      [self = self(), data, then = std::move(then)](error_code error, std::size_t) {
                        if (error || self->_closed) {
                          self->close();
                          return;
                        }
                        self->lowest().expires_never();
                        then();
                      });
  }

  // Runs then after ms, unless the connection ends first.
  void after(int ms, std::function<void()> then) {
    _timer.expires_after(std::chrono::milliseconds(ms));
    _timer.async_wait([self = self(), then = std::move(then)](error_code error) {
      if (!error && !self->_closed) {
        then();
      }
    });
  }

  Stream _stream;
  SimConnectionOwner& _owner;
  asio::steady_timer _timer;
  beast::flat_buffer _buffer;
  std::optional<http::request_parser<http::string_body>> _parser;
  std::string _raw;
  SimAsked _asked;
  Phase _phase = Phase::Opening;
  std::size_t _served = 0;
  bool _continued = false;
  bool _keepAlive = true;
  bool _stopping = false;
  bool _closed = false;
};

}  // namespace

std::shared_ptr<SimConnection> SimConnection::start(tcp::socket socket, asio::ssl::context* tls,
                                                    SimConnectionOwner& owner) {
  if (tls) {
    auto connection = std::make_shared<Connection<TlsStream>>(std::move(socket), tls, owner);
    connection->begin();
    return connection;
  }
  auto connection = std::make_shared<Connection<PlainStream>>(std::move(socket), tls, owner);
  connection->begin();
  return connection;
}

}  // namespace kovsim
