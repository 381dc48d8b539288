#include "KOVCurlSession.h"

#include <KOVModule/KOVEndpointPolicy.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <utility>

#include "KOVCurlErrors.h"

namespace kovcurl {
namespace {

constexpr double kDefaultTimeoutSeconds = 60.0;

struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct TextDeleter {
  void operator()(char* text) const { curl_free(text); }
};

bool startsWithNoCase(const std::string& text, const char* prefix) {
  const std::size_t length = std::strlen(prefix);
  return text.size() >= length && std::equal(prefix, prefix + length, text.begin(), [](char a, char b) {
           return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
         });
}

}  // namespace

void KOVCurlSession::initialiseCurl() {
  // Once, before the first handle of any thread (curl's own lazy initialisation is not safe
  // from several threads); never undone while the process runs (other users of libcurl in
  // the host may rely on it).
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  (void)initialised;
}

struct KOVCurlSession::Request {
  KOVRequestId id = 0;
  // Before the handle, so that it outlives it: curl writes its reason for a failure here.
  std::array<char, CURL_ERROR_SIZE> errorBuffer{};
  EasyHandle easy;
  std::string url;
  Server server;
  long timeoutMs = 0;
  std::string body;
  std::string received;
  bool oversize = false;
  ResponseHandler completion;

  // curl sends a request again by itself when a kept-alive connection turns out dead after
  // the request went out, and it can, since the body it is given lies in memory. The
  // request is handed to the wire only once: a second start of the same transfer (the only
  // way curl re-sends) is refused before anything is sent, and the transfer fails as a lost
  // connection instead. (A body read through a callback without a seek callback stops the
  // re-send too, but curl then writes the body apart from the head, two sends per request,
  // which costs a poll about a tenth of its round trip.) Until the first start nothing of
  // the request can have been written: the service cannot have seen it.
  bool started = false;
  bool resendRefused = false;
  static int beforeSending(void* self, char*, char*, int, int) {
    auto* request = static_cast<Request*>(self);
    if (request->started) {
      request->resendRefused = true;
      return CURL_PREREQFUNC_ABORT;
    }
    request->started = true;
    return CURL_PREREQFUNC_OK;
  }

  // The head is read as it arrives: a fault in it ends the transfer at once.
  KOVCurlAnswerHead head;
  static size_t header(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<Request*>(self);
    const std::size_t n = size * count;
    return request->head.takeLine(std::string_view(data, n)) ? n : 0;
  }

  // The cap is checked as the answer arrives, whether or not its length was announced.
  static size_t write(char* data, size_t size, size_t count, void* self) {
    auto* request = static_cast<Request*>(self);
    const std::size_t n = size * count;
    if (!request->head.begun()) {
      // No status line: curl hands the answer on as HTTP/0.9, which nothing here speaks. Its
      // first bytes only tell what it is.
      return request->head.takeUnframed(std::string_view(data, n)) ? n : 0;
    }
    if (request->received.size() + n > kov::kMaxResponseBytes) {
      request->oversize = true;
      return 0;  // stops the transfer
    }
    request->received.append(data, n);
    return n;
  }
};

KOVCurlSession::KOVCurlSession(std::shared_ptr<KOVEventLoop> loop, std::shared_ptr<const KOVCurlTrust> trust)
    : _loop(std::move(loop)),
      _trust(std::move(trust)),
      _authorities(_trust->bundle()),
      _trustGeneration(_trust->generation()) {
  initialiseCurl();
  curl_slist* headers = nullptr;
  // The content type is ours; "Expect:" and "Accept:" stop curl's own defaults. No cache on
  // the way may keep an answer: a gateway that did handed one sale's approval to another.
  for (const char* header :
       {"Content-Type: text/xml", "Cache-Control: no-store", "Pragma: no-cache", "Expect:", "Accept:"}) {
    headers = curl_slist_append(headers, header);
  }
  _headers.reset(headers);
  _multi.reset(curl_multi_init());
  if (_multi) {
    CURLM* multi = _multi.get();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &KOVCurlSession::onSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &KOVCurlSession::onTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
    curl_multi_setopt(multi, CURLMOPT_PIPELINING, CURLPIPE_NOTHING);
  }
}

KOVCurlSession::~KOVCurlSession() { invalidateAndCancel(); }

bool KOVCurlSession::canBeReused() const { return _multi && _trustGeneration == _trust->generation(); }

long KOVCurlSession::transferTimeoutMs(double timeoutSeconds) {
  const double seconds = (std::isfinite(timeoutSeconds) && timeoutSeconds > 0) ? timeoutSeconds : kDefaultTimeoutSeconds;
  const double ms = std::ceil(seconds * 1000.0);
  if (ms >= static_cast<double>(std::numeric_limits<int>::max())) {
    return std::numeric_limits<int>::max();
  }
  return std::max(1L, static_cast<long>(ms));
}

std::optional<KOVError> KOVCurlSession::refusalOf(const std::string& url) {
  // The key travels in every body: only https, and plain http to this machine, are used.
  const bool https = startsWithNoCase(url, "https://");
  if (!https && !startsWithNoCase(url, "http://")) {
    return urlError(NSURLErrorUnsupportedURL, "the URL's scheme is not supported", false);
  }
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  char* rawHost = nullptr;
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &rawHost, 0) != CURLUE_OK) {
    return urlError(NSURLErrorBadURL, "the URL is not valid for this service", false);
  }
  const std::unique_ptr<char, TextDeleter> host(rawHost);
  if (!https && !kov::EndpointPolicy::isLoopbackHost(host.get())) {
    return urlError(NSURLErrorUnsupportedURL, "plain http is used only for this machine", false);
  }
  if (std::strlen(host.get()) == 0 || !kov::EndpointPolicy::isAcceptable(url)) {
    return urlError(NSURLErrorBadURL, "the URL is not valid for this service", false);
  }
  return std::nullopt;
}

Server KOVCurlSession::serverOf(const std::string& url) {
  Server server;
  std::unique_ptr<CURLU, UrlDeleter> parsed(curl_url());
  char* rawHost = nullptr;
  char* rawPort = nullptr;
  if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
      curl_url_get(parsed.get(), CURLUPART_HOST, &rawHost, 0) != CURLUE_OK) {
    return server;
  }
  const std::unique_ptr<char, TextDeleter> host(rawHost);
  server.host = host.get();
  server.authority = server.host;
  if (curl_url_get(parsed.get(), CURLUPART_PORT, &rawPort, CURLU_DEFAULT_PORT) == CURLUE_OK) {
    const std::unique_ptr<char, TextDeleter> port(rawPort);
    server.authority += ":" + std::string(port.get());
  }
  return server;
}

KOVRequestId KOVCurlSession::post(const std::string& url, const std::string& body, double timeoutSeconds,
                                  ResponseHandler completion) {
  const KOVRequestId id = _nextId++;
  if (!_multi) {
    deliver(std::move(completion), std::nullopt, std::nullopt,
            urlError(NSURLErrorCancelled, "the session has been closed", false));
    return id;
  }
  if (std::optional<KOVError> refusal = refusalOf(url)) {
    deliver(std::move(completion), std::nullopt, std::nullopt, std::move(refusal));
    return id;
  }
  auto request = std::make_unique<Request>();
  request->id = id;
  request->easy = takeHandle();
  request->url = url;
  request->server = serverOf(url);
  request->timeoutMs = transferTimeoutMs(timeoutSeconds);
  request->body = body;
  CURL* easy = request->easy.get();
  if (!easy) {
    deliver(std::move(completion), std::nullopt, std::nullopt,
            urlError(NSURLErrorUnknown,
                     "the request to " + request->server.authority + " failed: " +
                         curl_easy_strerror(CURLE_OUT_OF_MEMORY),
                     false));
    return id;
  }
  curl_easy_setopt(easy, CURLOPT_URL, request->url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_PRIVATE, request.get());
  curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, request->errorBuffer.data());
  // The loop forgets a socket before curl closes it (connections keep this callback).
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETFUNCTION, &KOVCurlSession::onCloseSocket);
  curl_easy_setopt(easy, CURLOPT_CLOSESOCKETDATA, this);
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  // HTTP/1.1 only: one kept-alive connection per session, reused request after request.
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, _headers.get());
  curl_easy_setopt(easy, CURLOPT_POST, 1L);
  curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request->body.size()));
  // Not copied: the request keeps its body until the transfer is gone.
  curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request->body.data());
  curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Request::beforeSending);
  curl_easy_setopt(easy, CURLOPT_PREREQDATA, request.get());
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Request::header);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, request.get());
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Request::write);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, request.get());
  // An answer without a status line reaches write(), which tells an HTTP/2-only server from
  // other strangers; refused by curl, all of them would look alike.
  curl_easy_setopt(easy, CURLOPT_HTTP09_ALLOWED, 1L);
  // An announced length over the cap ends the transfer before the body is read.
  curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kov::kMaxResponseBytes));
  curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, request->timeoutMs);
  // The connection may take the whole time-out, and no more: a time-out then means the
  // request's own, whatever phase it struck in.
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, request->timeoutMs);
  // A redirect would carry the merchant key elsewhere; it is an answer like any other.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
  // Loopback (the simulator) is never reached through a proxy.
  curl_easy_setopt(easy, CURLOPT_NOPROXY, "localhost,127.0.0.0/8,::1");
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
  curl_easy_setopt(easy, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  if (_authorities) {
    curl_blob blob{};
    // Not copied: the session holds the bundle until its multi handle and connections are gone.
    blob.data = const_cast<char*>(_authorities->data());
    blob.len = _authorities->size();
    blob.flags = CURL_BLOB_NOCOPY;
    curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
  }
  request->completion = std::move(completion);
  if (const CURLMcode added = curl_multi_add_handle(_multi.get(), easy); added != CURLM_OK) {
    deliver(std::move(request->completion), std::nullopt, std::nullopt,
            urlError(NSURLErrorUnknown,
                     "the request to " + request->server.authority + " failed: " + curl_multi_strerror(added), false));
    keepHandle(std::move(request->easy));
    return id;
  }
  _requests.emplace(id, std::move(request));
  // Started at once rather than from the zero timer curl has just asked for: on a kept-alive
  // connection the request goes out now, a turn of the loop earlier. Whatever ends in here
  // (a refused connection) completes later, from the loop.
  int running = 0;
  curl_multi_socket_action(_multi.get(), CURL_SOCKET_TIMEOUT, 0, &running);
  for (Finished& done : collectFinished()) {
    deliver(std::move(done.completion), std::move(done.data), std::move(done.response), std::move(done.error));
  }
  return id;
}

void KOVCurlSession::cancel(KOVRequestId request) {
  const auto found = _requests.find(request);
  if (found == _requests.end()) {
    return;  // finished, cancelled before, or never handed out
  }
  std::unique_ptr<Request> entry = std::move(found->second);
  _requests.erase(found);
  curl_multi_remove_handle(_multi.get(), entry->easy.get());
  keepHandle(std::move(entry->easy));
  deliver(std::move(entry->completion), std::nullopt, std::nullopt, cancelledError(entry->started));
}

void KOVCurlSession::invalidateAndCancel() {
  if (!_multi) {
    return;
  }
  std::map<KOVRequestId, std::unique_ptr<Request>> outstanding = std::move(_requests);
  _requests.clear();
  for (auto& [id, entry] : outstanding) {
    curl_multi_remove_handle(_multi.get(), entry->easy.get());
    deliver(std::move(entry->completion), std::nullopt, std::nullopt, cancelledError(entry->started));
  }
  outstanding.clear();
  _idleHandles.clear();
  // Closes the pooled connections; curl tells onSocket to forget their sockets.
  _multi.reset();
  for (const curl_socket_t fd : _watched) {
    _loop->unwatchSocket(fd);
  }
  _watched.clear();
  stopTimer();
}

int KOVCurlSession::onSocket(CURL*, curl_socket_t fd, int what, void* self, void*) {
  auto* session = static_cast<KOVCurlSession*>(self);
  if (what == CURL_POLL_REMOVE) {
    session->_loop->unwatchSocket(fd);
    session->_watched.erase(fd);
    return 0;
  }
  uint32_t events = 0;
  if (what == CURL_POLL_IN || what == CURL_POLL_INOUT) {
    events |= KOVSocketRead;
  }
  if (what == CURL_POLL_OUT || what == CURL_POLL_INOUT) {
    events |= KOVSocketWrite;
  }
  session->_watched.insert(fd);
  session->_loop->watchSocket(fd, events, [session, fd](uint32_t ready) {
    int mask = 0;
    mask |= (ready & KOVSocketRead) ? CURL_CSELECT_IN : 0;
    mask |= (ready & KOVSocketWrite) ? CURL_CSELECT_OUT : 0;
    mask |= (ready & KOVSocketError) ? CURL_CSELECT_ERR : 0;
    session->act(fd, mask);
  });
  return 0;
}

int KOVCurlSession::onCloseSocket(void* self, curl_socket_t fd) {
  auto* session = static_cast<KOVCurlSession*>(self);
  session->_loop->forgetSocket(fd);
  session->_watched.erase(fd);
  return ::close(fd);
}

int KOVCurlSession::onTimer(CURLM*, long timeoutMs, void* self) {
  auto* session = static_cast<KOVCurlSession*>(self);
  session->stopTimer();
  if (timeoutMs >= 0) {
    session->_timer = session->_loop->startTimer(std::chrono::milliseconds(timeoutMs), [session] {
      session->_timer.reset();
      session->act(CURL_SOCKET_TIMEOUT, 0);
    });
  }
  return 0;
}

void KOVCurlSession::stopTimer() {
  if (_timer) {
    _loop->cancelTimer(*_timer);
    _timer.reset();
  }
}

void KOVCurlSession::act(curl_socket_t fd, int events) {
  if (!_multi) {
    return;
  }
  int running = 0;
  curl_multi_socket_action(_multi.get(), fd, events, &running);
  std::vector<Finished> finished = collectFinished();
  // From here on nothing of the session is touched: a completion may post the next request
  // or destroy the session. Running them here, in the loop's handler (never inside post()),
  // saves a turn of the loop per request.
  for (Finished& done : finished) {
    if (done.completion) {
      done.completion(done.data, done.response, done.error);
    }
  }
}

std::vector<KOVCurlSession::Finished> KOVCurlSession::collectFinished() {
  std::vector<Finished> finished;
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(_multi.get(), &left)) {
    if (message->msg != CURLMSG_DONE) {
      continue;
    }
    CURL* easy = message->easy_handle;
    const CURLcode result = message->data.result;
    Request* raw = nullptr;
    curl_easy_getinfo(easy, CURLINFO_PRIVATE, &raw);
    const auto found = raw ? _requests.find(raw->id) : _requests.end();
    if (found == _requests.end()) {
      curl_multi_remove_handle(_multi.get(), easy);
      continue;
    }
    std::unique_ptr<Request> entry = std::move(found->second);
    _requests.erase(found);
    long status = 0;
    curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
    long osErrno = 0;
    curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osErrno);
    curl_multi_remove_handle(_multi.get(), easy);
    keepHandle(std::move(entry->easy));

    Finished& done = finished.emplace_back();
    done.completion = std::move(entry->completion);
    if (entry->oversize) {
      done.error = oversizeError(entry->server);
    } else if (entry->head.fault() != KOVCurlAnswerHead::Fault::None) {
      done.error = answerHeadError(entry->head.fault(), entry->server);
    } else if (entry->resendRefused) {
      done.error = lostAfterSendingError(entry->server);
    } else if (result == CURLE_OUT_OF_MEMORY && entry->head.inHead()) {
      // curl gives up on a line of the head longer than it keeps (100 KiB) as out of memory.
      done.error = answerHeadError(KOVCurlAnswerHead::Fault::TooLarge, entry->server);
    } else if (result != CURLE_OK) {
      // The system's error only where curl sets it for this transfer: a failed connect.
      done.error = urlErrorFor(TransferFailure{result, std::move(entry->server), entry->timeoutMs, entry->started,
                                               result == CURLE_COULDNT_CONNECT ? osErrno : 0,
                                               std::string(entry->errorBuffer.data())});
    } else if (status <= 0) {
      done.error = unreadableAnswerError(entry->server);
    } else {
      // An HTTP answer, whatever its status: the body is the answer.
      done.data = std::move(entry->received);
      done.response = KOVURLResponse{static_cast<int32_t>(status), entry->url, entry->head.retryAfter()};
    }
  }
  return finished;
}

KOVCurlSession::EasyHandle KOVCurlSession::takeHandle() {
  if (_idleHandles.empty()) {
    return EasyHandle(curl_easy_init());
  }
  EasyHandle easy = std::move(_idleHandles.back());
  _idleHandles.pop_back();
  return easy;  // every option is set again by post()
}

void KOVCurlSession::keepHandle(EasyHandle easy) {
  // A poll and a button request are the most a transaction has outstanding at once.
  constexpr std::size_t kMaxIdleHandles = 2;
  if (easy) {
    // The error buffer goes with its request.
    curl_easy_setopt(easy.get(), CURLOPT_ERRORBUFFER, nullptr);
  }
  if (easy && _multi && _idleHandles.size() < kMaxIdleHandles) {
    _idleHandles.push_back(std::move(easy));
  }
}

void KOVCurlSession::deliver(ResponseHandler completion, std::optional<std::string> data,
                             std::optional<KOVURLResponse> response, std::optional<KOVError> error) {
  if (!completion) {
    return;
  }
  _loop->post([completion = std::move(completion), data = std::move(data), response = std::move(response),
               error = std::move(error)] { completion(data, response, error); });
}

}  // namespace kovcurl
