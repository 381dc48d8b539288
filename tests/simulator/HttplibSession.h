#pragma once
// A URL session for the engine on cpp-httplib, one worker thread per request, with
// completions handed to a queue that the test thread runs. For tests only: it stands in
// for the Qt transport so the core engine can talk to the simulator without a toolkit.
#include <KOVModule/KOVURLSession.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include <httplib.h>

namespace simtest {

/// Runs posted closures on the thread that calls runUntil.
class TestMainQueue : public KOVMainQueue {
 public:
  void post(std::function<void()> work) override;
  /// Runs closures until done() holds or the time-out passes; true when done() held.
  bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

 private:
  std::mutex _lock;
  std::condition_variable _posted;
  std::deque<std::function<void()>> _work;
};

class HttplibSession : public KOVURLSession {
 public:
  explicit HttplibSession(std::shared_ptr<TestMainQueue> queue) : _queue(std::move(queue)) {}
  ~HttplibSession() override;

  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override;
  void cancel(KOVRequestId request) override;
  void invalidateAndCancel() override;

 private:
  struct Request {
    std::unique_ptr<httplib::Client> client;
    std::thread worker;
    bool cancelled = false;
  };

  std::shared_ptr<TestMainQueue> _queue;
  std::mutex _lock;
  std::map<KOVRequestId, std::shared_ptr<Request>> _requests;
  KOVRequestId _nextId = 1;
};

}  // namespace simtest
