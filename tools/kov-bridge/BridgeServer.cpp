#include "BridgeServer.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/v6_only.hpp>

#include <utility>

namespace kovbridge {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

BridgeServer::BridgeServer(asio::io_context& io, BridgeDispatcher& dispatcher, BridgeLoopDriver& driver)
    : _io(io), _context{dispatcher, driver, [this](BridgeConnection* connection) { _connections.erase(connection); }} {}

BridgeServer::~BridgeServer() {
  stop();
  // Connections still held by a pending handler must not reach for this server.
  _context.forget = [](BridgeConnection*) {};
}

bool BridgeServer::useTls(const std::string& certificateFile, const std::string& keyFile, std::string& why) {
  asio::ssl::context tls(asio::ssl::context::tls_server);
  error_code error;
  tls.set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_compression |
                      asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1,
                  error);
  if (!error) tls.use_certificate_chain_file(certificateFile, error);
  if (error) {
    why = "--tls-cert " + certificateFile + ": " + error.message();
    return false;
  }
  tls.use_private_key_file(keyFile, asio::ssl::context::pem, error);
  if (error) {
    why = "--tls-key " + keyFile + ": " + error.message();
    return false;
  }
  _tls.emplace(std::move(tls));
  return true;
}

bool BridgeServer::listen(const std::string& host, int port, std::string& why) {
  error_code error;
  const asio::ip::address address = asio::ip::make_address(host, error);
  if (error) {
    why = host + " is not an IP address";
    return false;
  }
  const tcp::endpoint endpoint(address, static_cast<unsigned short>(port == 0 && _port != 0 ? _port : port));
  auto listening = std::make_unique<Listening>(Listening{tcp::acceptor(_io), asio::steady_timer(_io)});
  tcp::acceptor* acceptor = &listening->acceptor;
  acceptor->open(endpoint.protocol(), error);
  if (!error && address.is_v6()) acceptor->set_option(asio::ip::v6_only(true), error);
  if (!error) acceptor->set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor->bind(endpoint, error);
  if (!error) acceptor->listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    why = "cannot listen on " + host + ":" + std::to_string(endpoint.port()) + ": " + error.message();
    return false;
  }
  _port = acceptor->local_endpoint().port();
  accept(*listening);
  _listening.push_back(std::move(listening));
  return true;
}

void BridgeServer::accept(Listening& listening) {
  listening.acceptor.async_accept([this, &listening](error_code error, tcp::socket socket) {
    if (!listening.acceptor.is_open()) return;
    if (error) {
      // Out of descriptors: accepting again at once would fail again, in a tight loop.
      listening.retry.expires_after(kAcceptRetry);
      listening.retry.async_wait([this, &listening](error_code waited) {
        if (!waited) accept(listening);
      });
      return;
    }
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);  // an event must not wait for an ACK
    auto connection = BridgeConnection::start(std::move(socket), _tls ? &*_tls : nullptr, _context);
    _connections.emplace(connection.get(), connection);
    accept(listening);
  });
}

void BridgeServer::stop() {
  for (const auto& listening : _listening) {
    error_code ignored;
    listening->acceptor.close(ignored);
    listening->retry.cancel();
  }
  std::vector<std::shared_ptr<BridgeConnection>> live;
  for (const auto& [pointer, connection] : _connections) {
    if (auto alive = connection.lock()) live.push_back(std::move(alive));
  }
  for (const auto& connection : live) connection->close();
}

}  // namespace kovbridge
