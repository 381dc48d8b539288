#include "SimServer.h"

#include <KOVModule/KOVEndpointPolicy.h>

#include <csignal>
#include <utility>

#include <httplib.h>

#include "SimDocuments.h"
#include "SimLog.h"
#include "SimSockets.h"

namespace kovsim {
namespace {

// Counts every accepted connection: the server hands each one to its task queue once.
class CountingThreadPool : public httplib::TaskQueue {
 public:
  CountingThreadPool(std::size_t threads, SimStats& stats) : _pool(threads), _stats(stats) {}
  void enqueue(std::function<void()> fn) override {
    _stats.countConnection();
    _pool.enqueue(std::move(fn));
  }
  void shutdown() override { _pool.shutdown(); }

 private:
  httplib::ThreadPool _pool;
  SimStats& _stats;
};

constexpr std::size_t kKeepAliveMaxCount = 100000;
constexpr time_t kKeepAliveSeconds = 30;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;
// A cut answer stops this long before its reset, so what was sent surely reached the client.
constexpr int kCutPauseMs = 200;
constexpr int kTricklePieces = 10;

}  // namespace

SimServer::SimServer(SimConfig config, SimLogSink log)
    : _config(config), _log(std::move(log)), _service(std::move(config)) {}

SimServer::~SimServer() { stop(); }

std::string SimServer::url() const {
  const bool ipv6 = _config.host.find(':') != std::string::npos && _config.host.front() != '[';
  const std::string host = ipv6 ? "[" + _config.host + "]" : _config.host;
  return std::string(_config.tls ? "https" : "http") + "://" + host + ":" + std::to_string(_port) + kEndpointPath;
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
  if (_http) {
    error = "already started";
    return false;
  }
  if (!_config.allowRemote && !KOVEndpointPolicy::isLoopbackHost(_config.host)) {
    error = "refusing to listen on " + _config.host + ", which is not a loopback address (use --allow-remote)";
    return false;
  }
  // A peer that goes away while an answer is written must not end the process.
  std::signal(SIGPIPE, SIG_IGN);

  if (_config.tls) {
    _certificates = writeTestCertificates(_config.certDir, _config.certificate, error);
    if (!_certificates) {
      return false;
    }
    auto tlsServer = std::make_unique<httplib::SSLServer>(_certificates->serverCertificate.c_str(),
                                                          _certificates->serverKey.c_str());
    if (_config.oldTls && tlsServer->is_valid()) {
      SSL_CTX* context = tlsServer->ssl_context();
      // Protocols that old are offered only at the lowest security level.
      SSL_CTX_set_security_level(context, 0);
      SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
      SSL_CTX_set_max_proto_version(context, TLS1_1_VERSION);
    }
    _http = std::move(tlsServer);
  } else {
    _http = std::make_unique<httplib::Server>();
  }
  if (!_http->is_valid()) {
    error = "cannot set up the server (certificate or key not usable)";
    _http.reset();
    return false;
  }
  _http->new_task_queue = [this] {
    // The server takes ownership of the queue it is handed and deletes it when it stops.
    return std::make_unique<CountingThreadPool>(kWorkerThreads, _service.stats()).release();
  };
  // Address reuse only: httplib's default also sets SO_REUSEPORT, which lets a second
  // simulator bind the same port and take half of a till's connections.
  _http->set_socket_options([](socket_t sock) {
    const int yes = 1;
    setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  });
  _http->set_tcp_nodelay(true);
  _http->set_keep_alive_max_count(kKeepAliveMaxCount);
  _http->set_keep_alive_timeout(kKeepAliveSeconds);
  _http->set_payload_max_length(kMaxRequestBytes);
  installRoutes();

  _port = _config.port == 0 ? _http->bind_to_any_port(_config.host)
                            : (_http->bind_to_port(_config.host, _config.port) ? _config.port : -1);
  if (_port <= 0) {
    error = "cannot listen on " + _config.host + ":" + std::to_string(_config.port);
    _http.reset();
    _port = 0;
    return false;
  }
  _listenerDone = false;
  _listener = std::thread([this] {
    _http->listen_after_bind();
    {
      const std::lock_guard<std::mutex> guard(_doneLock);
      _listenerDone = true;
    }
    _doneChanged.notify_all();
  });
  // httplib's stop() does nothing until the accept loop runs: a stop soon after this call
  // would otherwise leave the listener running for ever.
  std::unique_lock<std::mutex> lock(_doneLock);
  while (!_http->is_running() && !_listenerDone) _doneChanged.wait_for(lock, std::chrono::milliseconds(1));
  return true;
}

void SimServer::stop() {
  if (!_listener.joinable()) {
    return;
  }
  {
    const std::lock_guard<std::mutex> guard(_pauseLock);
    _stopping = true;
  }
  _pauseWake.notify_all();
  _service.shutdown();
  _http->stop();
  // Idle keep-alive connections would keep their worker threads until their time-out;
  // ending them lets the thread pool finish now. A connection whose answer is still being
  // written is spared for a while, so a held poll woken by the stop gets its answer.
  // Repeated, since a connection accepted just before the stop may show up late.
  const auto spareUntil = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  std::unique_lock<std::mutex> lock(_doneLock);
  while (!_listenerDone) {
    std::set<std::pair<std::string, int>> busy;
    if (std::chrono::steady_clock::now() < spareUntil) {
      const std::lock_guard<std::mutex> guard(_busyLock);
      busy = _busy;
    }
    shutdownConnections(_port, busy);
    _doneChanged.wait_for(lock, std::chrono::milliseconds(20));
  }
  lock.unlock();
  _listener.join();
}

void SimServer::installRoutes() {
  _http->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
    const std::lock_guard<std::mutex> guard(_busyLock);
    _busy.insert({request.remote_addr, request.remote_port});
    return httplib::Server::HandlerResponse::Unhandled;
  });
  // Called once the answer is written.
  _http->set_logger([this](const httplib::Request& request, const httplib::Response&) {
    const std::lock_guard<std::mutex> guard(_busyLock);
    _busy.erase({request.remote_addr, request.remote_port});
  });
  _http->Post(kEndpointPath, [this](const httplib::Request& request, httplib::Response& response) {
    SimReply reply = _service.handle(request.body);
    log("POST " + (reply.txnType.empty() ? std::string("-") : reply.txnType) + " TxnRef=" +
        (reply.txnRef.empty() ? std::string("-") : reply.txnRef) + " -> " +
        (reply.fault == SimFault::None ? std::to_string(reply.status) : std::string(faultName(reply.fault))) + " " +
        reply.summary + " | " + request.body);
    play(Peer{request.local_port, request.remote_addr, request.remote_port}, std::move(reply), response);
  });
  _http->Get("/_sim/stats", [this](const httplib::Request&, httplib::Response& response) {
    response.set_content(_service.stats().toJson(), "application/json");
    log("GET /_sim/stats -> 200");
  });
}

void SimServer::play(const Peer& peer, SimReply reply, httplib::Response& response) {
  if (reply.fault == SimFault::None) {
    response.status = reply.status;
    response.set_content(reply.body, reply.contentType);
    return;
  }
  // The fault's answer is not one the stop should wait for.
  forgetBusy(peer);
  auto body = std::make_shared<const std::string>(std::move(reply.body));
  const auto reset = [this, peer] { resetConnection(peer.localPort, peer.address, peer.port); };
  switch (reply.fault) {
    case SimFault::Refuse:
      _http->stop();  // first, so that no retry finds the simulator still listening
      shutdownConnection(peer.localPort, peer.address, peer.port);
      break;
    case SimFault::Close:
      shutdownConnection(peer.localPort, peer.address, peer.port);
      break;
    case SimFault::Reset:
      reset();
      break;
    case SimFault::Cut:
      response.set_content_provider(body->size(), reply.contentType,
                                    [this, body, reset](std::size_t, std::size_t, httplib::DataSink& sink) {
                                      sink.write(body->data(), body->size() / 2);
                                      pause(kCutPauseMs);
                                      reset();
                                      return false;
                                    });
      return;
    case SimFault::Trickle:
      response.set_content_provider(
          body->size(), reply.contentType,
          [this, body, gapMs = reply.trickleMs / kTricklePieces](std::size_t offset, std::size_t,
                                                                 httplib::DataSink& sink) {
            const std::size_t piece = (body->size() + kTricklePieces - 1) / kTricklePieces;
            return pause(gapMs) && sink.write(body->data() + offset, std::min(piece, body->size() - offset));
          });
      return;
    case SimFault::ResetBody:
      response.set_chunked_content_provider(reply.contentType, [body, reset](std::size_t, httplib::DataSink& sink) {
        sink.write(body->data(), body->size() / 2);
        reset();
        return false;
      });
      return;
    case SimFault::Oversize:
      response.set_chunked_content_provider(reply.contentType, [](std::size_t offset, httplib::DataSink& sink) {
        const std::string_view piece = oversizePiece(offset);
        if (piece.empty()) {
          sink.done();
          return true;
        }
        return sink.write(piece.data(), piece.size());
      });
      return;
    default:
      break;
  }
  // Nothing is written: the connection is gone.
  response.status = 500;
}

bool SimServer::pause(int ms) {
  std::unique_lock<std::mutex> lock(_pauseLock);
  return !_pauseWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return _stopping; });
}

void SimServer::forgetBusy(const Peer& peer) {
  const std::lock_guard<std::mutex> guard(_busyLock);
  _busy.erase({peer.address, peer.port});
}

}  // namespace kovsim
