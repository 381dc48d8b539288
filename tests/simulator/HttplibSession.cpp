#include "HttplibSession.h"

#include <cmath>
#include <vector>

namespace simtest {

void TestMainQueue::post(std::function<void()> work) {
  {
    const std::lock_guard<std::mutex> guard(_lock);
    _work.push_back(std::move(work));
  }
  _posted.notify_all();
}

bool TestMainQueue::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    std::function<void()> work;
    {
      std::unique_lock<std::mutex> lock(_lock);
      if (!_posted.wait_until(lock, deadline, [this] { return !_work.empty(); })) {
        return done();
      }
      work = std::move(_work.front());
      _work.pop_front();
    }
    work();
  }
  return true;
}

HttplibSession::~HttplibSession() {
  invalidateAndCancel();
  std::vector<std::shared_ptr<Request>> requests;
  {
    const std::lock_guard<std::mutex> guard(_lock);
    for (auto& [id, request] : _requests) {
      requests.push_back(request);
    }
  }
  for (auto& request : requests) {
    if (request->worker.joinable()) {
      request->worker.join();
    }
  }
}

KOVRequestId HttplibSession::post(const std::string& url, const std::string& body, double timeoutSeconds,
                                  ResponseHandler completion) {
  // "http://HOST:PORT/path": the client takes the part before the path.
  const std::size_t pathStart = url.find('/', url.find("://") + 3);
  const std::string origin = url.substr(0, pathStart);
  const std::string path = pathStart == std::string::npos ? "/" : url.substr(pathStart);

  auto request = std::make_shared<Request>();
  request->client = std::make_unique<httplib::Client>(origin);
  const auto seconds = static_cast<time_t>(timeoutSeconds);
  const auto micros = static_cast<time_t>(std::lround((timeoutSeconds - static_cast<double>(seconds)) * 1e6));
  request->client->set_connection_timeout(seconds, micros);
  request->client->set_read_timeout(seconds, micros);
  request->client->set_write_timeout(seconds, micros);

  const std::lock_guard<std::mutex> guard(_lock);
  const KOVRequestId id = _nextId++;
  _requests[id] = request;
  httplib::Client* client = request->client.get();
  Request* state = request.get();
  request->worker = std::thread([this, client, state, path, body, completion] {
    httplib::Result result = client->Post(path, body, "text/xml");
    bool cancelled = false;
    {
      const std::lock_guard<std::mutex> guard(_lock);
      cancelled = state->cancelled;
    }
    std::optional<std::string> data;
    std::optional<KOVURLResponse> response;
    std::optional<KOVError> error;
    if (cancelled) {
      error = KOVError{NSURLErrorDomain, NSURLErrorCancelled, "cancelled"};
    } else if (!result) {
      error = KOVError{NSURLErrorDomain,
                       result.error() == httplib::Error::Read ? NSURLErrorTimedOut : NSURLErrorNetworkConnectionLost,
                       httplib::to_string(result.error())};
    } else {
      data = result->body;
      response = KOVURLResponse{result->status, path};
    }
    _queue->post([completion, data, response, error] { completion(data, response, error); });
  });
  return id;
}

void HttplibSession::cancel(KOVRequestId id) {
  const std::lock_guard<std::mutex> guard(_lock);
  const auto found = _requests.find(id);
  if (found != _requests.end() && !found->second->cancelled) {
    found->second->cancelled = true;
    found->second->client->stop();
  }
}

void HttplibSession::invalidateAndCancel() {
  const std::lock_guard<std::mutex> guard(_lock);
  for (auto& [id, request] : _requests) {
    if (!request->cancelled) {
      request->cancelled = true;
      request->client->stop();
    }
  }
}

}  // namespace simtest
