#pragma once
// A scripted session and main queue: every post is recorded, and the test decides when
// and how each request completes. Completions always run from the fake main queue,
// never inside post() or cancel(), as the real transports promise.
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/WqKOV.h>

#include <deque>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "SampleDetails.h"

namespace kovtest {

/// A main queue on a clock that moves only when the test says so.
class FakeMainQueue : public KOVMainQueue {
 public:
  void post(std::function<void()> work) override { pending.push_back(std::move(work)); }
  void postAfter(std::chrono::milliseconds delay, std::function<void()> work) override {
    timers.emplace(clock + delay, std::move(work));
  }
  Clock::time_point now() const override { return clock; }
  /// Runs queued work (and work queued by it) until none is left.
  void drain() {
    while (!pending.empty()) {
      auto work = std::move(pending.front());
      pending.pop_front();
      work();
    }
  }
  /// Moves the clock on, running each timer as it falls due.
  void advance(std::chrono::milliseconds by) {
    const Clock::time_point until = clock + by;
    while (!timers.empty() && timers.begin()->first <= until) {
      clock = timers.begin()->first;
      post(std::move(timers.begin()->second));
      timers.erase(timers.begin());
      drain();
    }
    clock = until;
  }
  std::deque<std::function<void()>> pending;
  std::multimap<Clock::time_point, std::function<void()>> timers;
  Clock::time_point clock{};
};

struct PostedRequest {
  KOVRequestId id = 0;
  std::string url;
  std::string body;
  double timeout = 0;
  ResponseHandler completion;
  bool completed = false;
  bool isButton() const { return body.find("<TxnType>UI</TxnType>") != std::string::npos; }
};

/// Shared by all sessions one factory makes, so a test sees every post of a transaction
/// even across releaseSession.
struct FakeNetwork {
  std::vector<std::shared_ptr<PostedRequest>> posts;
  std::shared_ptr<FakeMainQueue> queue = std::make_shared<FakeMainQueue>();
  KOVRequestId nextId = 1;
  std::function<void(const PostedRequest&)> onPost, onCancel;

  std::vector<std::shared_ptr<PostedRequest>> outstanding() const {
    std::vector<std::shared_ptr<PostedRequest>> out;
    for (const auto& p : posts) {
      if (!p->completed) out.push_back(p);
    }
    return out;
  }
  /// Completes a request through the main queue and runs the queue.
  void complete(const std::shared_ptr<PostedRequest>& request, std::optional<std::string> data,
                std::optional<KOVError> error = std::nullopt, int status = 200,
                std::optional<std::chrono::seconds> retryAfter = std::nullopt) {
    finish(request, std::move(data), std::move(error), status, retryAfter);
    queue->drain();
  }
  void finish(const std::shared_ptr<PostedRequest>& request, std::optional<std::string> data,
              std::optional<KOVError> error, int status, std::optional<std::chrono::seconds> retryAfter = std::nullopt) {
    if (request->completed) return;
    request->completed = true;
    std::optional<KOVURLResponse> response;
    if (!error) response = KOVURLResponse{status, request->url, retryAfter};
    queue->post([completion = request->completion, data = std::move(data), response, error = std::move(error)] {
      completion(data, response, error);
    });
  }
  void answer(const std::shared_ptr<PostedRequest>& request, const std::string& body, int status = 200) {
    complete(request, body, std::nullopt, status);
  }
  /// Fails a request as a time-out, or (sent false) as a refused connection: no byte left.
  void fail(const std::shared_ptr<PostedRequest>& request, int32_t code = NSURLErrorTimedOut, bool sent = true) {
    complete(request, std::nullopt,
             sent ? KOVError{NSURLErrorDomain, code, "no answer from the service within 30 s", true}
                  : KOVError{NSURLErrorDomain, NSURLErrorCannotConnectToHost, "connection refused by the service",
                             false});
  }
  std::shared_ptr<PostedRequest> last() const { return posts.empty() ? nullptr : posts.back(); }
};

class FakeSession : public KOVURLSession {
 public:
  explicit FakeSession(std::shared_ptr<FakeNetwork> network) : network_(std::move(network)) {}
  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override {
    auto request = std::make_shared<PostedRequest>(
        PostedRequest{network_->nextId++, url, body, timeoutSeconds, std::move(completion)});
    network_->posts.push_back(request);
    std::erase_if(mine_, [](const auto& r) { return r->completed; });
    mine_.push_back(request);
    if (network_->onPost) network_->onPost(*request);
    return request->id;
  }
  void cancel(KOVRequestId id) override {
    for (const auto& request : mine_) {
      if (request->id == id && !request->completed) {
        if (network_->onCancel) network_->onCancel(*request);
        network_->finish(request, std::nullopt, KOVError{NSURLErrorDomain, NSURLErrorCancelled, "cancelled"}, 0);
      }
    }
  }
  void invalidateAndCancel() override {
    for (const auto& request : mine_) cancel(request->id);
  }

 private:
  std::shared_ptr<FakeNetwork> network_;
  std::vector<std::shared_ptr<PostedRequest>> mine_;
};

/// Wires an engine to a fake network, polling and retrying at once (the tests of pacing set
/// their own).
inline std::shared_ptr<FakeNetwork> wireFakeNetwork(WqKOV& engine) {
  auto network = std::make_shared<FakeNetwork>();
  engine.setMainQueue(network->queue);
  engine.setRetrySpacing(0);
  engine.setPollFloor(0);
  engine.setSessionFactory(
      [network] { return std::unique_ptr<KOVURLSession>(std::make_unique<FakeSession>(network)); });
  return network;
}

}  // namespace kovtest
