#include "SimServer.h"

#include <KOVModule/KOVEndpointPolicy.h>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <openssl/ssl.h>

#include <csignal>
#include <map>
#include <thread>
#include <utility>
#include <vector>

#include "SimConnection.h"
#include "SimLog.h"

namespace kovsim {
namespace {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using boost::system::error_code;

// At stop, an answer still being written gets this long before its connection is ended.
constexpr std::chrono::seconds kSpareAtStop{2};
// After a failed accept (out of descriptors), the next one waits this long.
constexpr std::chrono::milliseconds kAcceptRetry{50};

}  // namespace

// Everything of a started server that lives on its thread.
struct SimServer::State final : SimConnectionOwner {
  explicit State(SimServer& owner) : server(owner) {}
  // Connections destroyed with the event loop must not reach for the timers gone before it.
  ~State() { stopping = false; }

  bool setUpTls(const SimCertificateFiles& files, bool oldTls);
  bool listen(const std::string& host, int port, int& bound);
  void accept();
  void armWake();
  std::vector<std::shared_ptr<SimConnection>> liveConnections() const;
  void beginStop();

  void route(SimHttpRequest request, SimAnswer answer) override;
  void refuse() override {
    error_code ignored;
    acceptor.close(ignored);
  }
  void forget(SimConnection* connection) override {
    connections.erase(connection);
    if (stopping && connections.empty()) {
      spareTimer.cancel();
    }
  }

  SimServer& server;
  std::map<SimConnection*, std::weak_ptr<SimConnection>> connections;
  std::optional<asio::ssl::context> tls;
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  asio::steady_timer acceptTimer{io};
  // Wakes the service when a held request is due; armed for wakeAt.
  asio::steady_timer wakeTimer{io};
  std::optional<SimService::Clock::time_point> wakeAt;
  asio::steady_timer spareTimer{io};
  asio::executor_work_guard<asio::io_context::executor_type> work = asio::make_work_guard(io);
  bool stopping = false;
  mutable std::mutex lastLock;
  std::string lastRequest;
  std::thread thread;
};

SimServer::SimServer(SimConfig config, SimLogSink log)
    : _config(config), _log(std::move(log)), _service(std::move(config)) {}

SimServer::~SimServer() { stop(); }

std::string SimServer::url() const {
  const bool ipv6 = _config.host.find(':') != std::string::npos && _config.host.front() != '[';
  const std::string host = ipv6 ? "[" + _config.host + "]" : _config.host;
  return std::string(_config.tls ? "https" : "http") + "://" + host + ":" + std::to_string(_port) + kEndpointPath;
}

std::string SimServer::lastRequest() const {
  if (!_state) {
    return {};
  }
  const std::lock_guard<std::mutex> guard(_state->lastLock);
  return _state->lastRequest;
}

void SimServer::log(const std::string& line) {
  if (!_log) {
    return;
  }
  const std::string safe = maskKey(oneLine(line), _config.key);
  const std::lock_guard<std::mutex> guard(_logLock);
  _log(safe);
}

bool SimServer::start(std::string& error) {
  if (_state) {
    error = "already started";
    return false;
  }
  if (!_config.allowRemote && !kov::EndpointPolicy::isLoopbackHost(_config.host)) {
    error = "refusing to listen on " + _config.host + ", which is not a loopback address (use --allow-remote)";
    return false;
  }
  // A peer that goes away while an answer is written must not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  auto state = std::make_unique<State>(*this);
  if (_config.tls) {
    _certificates = writeTestCertificates(_config.certDir, _config.certificate, error);
    if (!_certificates) {
      return false;
    }
    if (!state->setUpTls(*_certificates, _config.oldTls)) {
      error = "cannot set up the server (certificate or key not usable)";
      return false;
    }
  }
  if (!state->listen(_config.host, _config.port, _port)) {
    error = "cannot listen on " + _config.host + ":" + std::to_string(_config.port);
    _port = 0;
    return false;
  }
  state->accept();
  state->thread = std::thread([&io = state->io] { io.run(); });
  _state = std::move(state);
  return true;
}

void SimServer::stop() {
  if (!_state || !_state->thread.joinable()) {
    return;
  }
  asio::post(_state->io, [state = _state.get()] { state->beginStop(); });
  _state->thread.join();
}

bool SimServer::State::setUpTls(const SimCertificateFiles& files, bool oldTls) {
  tls.emplace(asio::ssl::context::tls_server);
  error_code error;
  tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_compression, error);
  tls->use_certificate_chain_file(files.serverCertificate, error);
  if (!error) {
    tls->use_private_key_file(files.serverKey, asio::ssl::context::pem, error);
  }
  if (!error && oldTls) {
    SSL_CTX* context = tls->native_handle();
    // Protocols that old are offered only at the lowest security level.
    SSL_CTX_set_security_level(context, 0);
    SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
  }
  return !error;
}

bool SimServer::State::listen(const std::string& host, int port, int& bound) {
  error_code error;
  tcp::resolver resolver(io);
  const auto endpoints = resolver.resolve(host, std::to_string(port), tcp::resolver::numeric_service, error);
  for (const auto& entry : endpoints) {
    acceptor.open(entry.endpoint().protocol(), error);
    // Address reuse only, never port sharing (SO_REUSEPORT), which would let a second
    // simulator bind the same port and take half of a till's connections.
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(entry.endpoint(), error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (!error) {
      bound = acceptor.local_endpoint().port();
      return true;
    }
    error_code ignored;
    acceptor.close(ignored);
  }
  return false;
}

void SimServer::State::accept() {
  acceptor.async_accept([this](error_code error, tcp::socket socket) {
    if (!acceptor.is_open()) {
      return;  // refused for good, or stopping
    }
    if (error) {
      // Out of descriptors: a tight loop would not free any.
      acceptTimer.expires_after(kAcceptRetry);
      acceptTimer.async_wait([this](error_code waited) {
        if (!waited) accept();
      });
      return;
    }
    server._service.stats().countConnection();
    error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);  // else each answer waits ~40 ms for an ACK
    std::shared_ptr<SimConnection> connection = SimConnection::start(std::move(socket), tls ? &*tls : nullptr, *this);
    connections.emplace(connection.get(), connection);
    accept();
  });
}

void SimServer::State::route(SimHttpRequest request, SimAnswer answer) {
  {
    const std::lock_guard<std::mutex> guard(lastLock);
    lastRequest = std::move(request.raw);
  }
  if (request.method == "POST" && request.path == kEndpointPath) {
    // The line is logged when the answer goes out, which for a held request is later.
    SimAsked* asked = request.asked;
    server._service.handle(request.body, [this, body = request.body, answer = std::move(answer)](SimReply reply) {
      server.log("POST " + (reply.txnType.empty() ? std::string("-") : reply.txnType) + " TxnRef=" +
                 (reply.txnRef.empty() ? std::string("-") : reply.txnRef) + " -> " +
                 (reply.fault == SimFault::None ? std::to_string(reply.status) : std::string(faultName(reply.fault))) +
                 " " + reply.summary + " | " + body);
      answer(std::move(reply));
    }, asked);
    armWake();
    return;
  }
  SimReply reply;
  if (request.method == "GET" && request.path == "/_sim/stats") {
    reply.contentType = "application/json";
    reply.body = server._service.stats().toJson();
    server.log("GET /_sim/stats -> 200");
  } else {
    reply.status = 404;
    reply.contentType.clear();
  }
  answer(std::move(reply));
}

void SimServer::State::armWake() {
  const std::optional<SimService::Clock::time_point> next = server._service.nextWake();
  if (next == wakeAt) {
    return;
  }
  wakeAt = next;
  if (!next) {
    wakeTimer.cancel();
    return;
  }
  wakeTimer.expires_at(*next);
  wakeTimer.async_wait([this](error_code error) {
    if (error) {
      return;
    }
    wakeAt.reset();
    server._service.wake(SimService::Clock::now());
    armWake();
  });
}

std::vector<std::shared_ptr<SimConnection>> SimServer::State::liveConnections() const {
  std::vector<std::shared_ptr<SimConnection>> live;
  for (const auto& [pointer, connection] : connections) {
    if (auto alive = connection.lock()) {
      live.push_back(std::move(alive));
    }
  }
  return live;
}

void SimServer::State::beginStop() {
  stopping = true;
  error_code ignored;
  acceptor.close(ignored);
  acceptTimer.cancel();
  // Held requests get their answers now; their connections end once those are written.
  server._service.shutdown();
  wakeTimer.cancel();
  wakeAt.reset();
  for (const auto& connection : liveConnections()) {
    connection->stop();
  }
  work.reset();
  if (!connections.empty()) {
    spareTimer.expires_after(kSpareAtStop);
    spareTimer.async_wait([this](error_code error) {
      if (error) {
        return;
      }
      for (const auto& connection : liveConnections()) {
        connection->close();
      }
    });
  }
}

}  // namespace kovsim
