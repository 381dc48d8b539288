#pragma once
// What the tools' HTTP servers (kov-simulator, kov-bridge) share on Beast: the two kinds of
// stream an accepted socket becomes, and an answer's status line.
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <string>
#include <type_traits>
#include <utility>

namespace kovtools {

using PlainStream = boost::beast::tcp_stream;
using TlsStream = boost::beast::ssl_stream<boost::beast::tcp_stream>;

/// The stream over an accepted socket: TLS with the server's context, or plain (tls unused).
template <class Stream>
Stream openStream(boost::asio::ip::tcp::socket socket, boost::asio::ssl::context* tls) {
  if constexpr (std::is_same_v<Stream, TlsStream>) {
    return Stream(boost::beast::tcp_stream(std::move(socket)), *tls);
  } else {
    return Stream(std::move(socket));
  }
}

/// "HTTP/1.1 404 Not Found\r\n": the status and its usual reason.
inline std::string statusLine(unsigned status) {
  namespace http = boost::beast::http;
  return "HTTP/1.1 " + std::to_string(status) + " " + std::string(http::obsolete_reason(http::int_to_status(status))) +
         "\r\n";
}

}  // namespace kovtools
