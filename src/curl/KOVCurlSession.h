#pragma once
// One engine session over one curl multi handle, driven by an event loop.
#include <KOVModule/KOVCurlTrust.h>
#include <KOVModule/KOVEventLoop.h>
#include <KOVModule/KOVURLSession.h>

#include <curl/curl.h>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KOVCurlErrors.h"

namespace kovcurl {

/// Posts each request once through the session's own multi handle, whose connection pool
/// keeps a transaction on one kept-alive connection. All work happens in the loop's
/// handlers. A finished transfer completes from the handler that saw it end, after the
/// session is done with curl; a request cancelled, refused or invalidated completes from a
/// closure posted to the loop. Completions do not depend on the session: they run once
/// each, also after the session is gone. An error says why in plain words, naming the
/// server as HOST:PORT, and whether the request can have left (it cannot when the transfer
/// ended before curl went on to write it). Used from the loop's thread only.
class KOVCurlSession final : public KOVURLSession {
 public:
  /// trust: the certificates to verify servers with besides the system's, as they are now.
  KOVCurlSession(std::shared_ptr<KOVEventLoop> loop, std::shared_ptr<const KOVCurlTrust> trust);
  ~KOVCurlSession() override;
  KOVCurlSession(const KOVCurlSession&) = delete;
  KOVCurlSession& operator=(const KOVCurlSession&) = delete;

  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override;
  void cancel(KOVRequestId request) override;
  void invalidateAndCancel() override;
  /// False once its trusted certificates have changed since the session was made.
  bool canBeReused() const override;

  /// The request's time-out in milliseconds: a time-out that is not a positive number
  /// means the default, so no request ever waits forever.
  static long transferTimeoutMs(double timeoutSeconds);
  /// Initialises libcurl for the process, once; every first use of curl goes through it.
  static void initialiseCurl();
  /// Why the session refuses url before touching the network, if it does.
  static std::optional<KOVError> refusalOf(const std::string& url);
  /// The server an accepted url names, as errors name it ("[::1]:8080", "host:443").
  static Server serverOf(const std::string& url);

 private:
  struct Request;
  struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
  };
  using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
  struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
  };
  struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
  };

  static int onSocket(CURL* easy, curl_socket_t fd, int what, void* self, void* socketData);
  static int onTimer(CURLM* multi, long timeoutMs, void* self);
  static int onCloseSocket(void* self, curl_socket_t fd);
  void act(curl_socket_t fd, int events);
  struct Finished {
    ResponseHandler completion;
    std::optional<std::string> data;
    std::optional<KOVURLResponse> response;
    std::optional<KOVError> error;
  };
  std::vector<Finished> collectFinished();
  void deliver(ResponseHandler completion, std::optional<std::string> data, std::optional<KOVURLResponse> response,
               std::optional<KOVError> error);
  void stopTimer();
  EasyHandle takeHandle();
  void keepHandle(EasyHandle easy);

  std::shared_ptr<KOVEventLoop> _loop;
  std::shared_ptr<const KOVCurlTrust> _trust;
  std::shared_ptr<const std::string> _authorities;  // null: curl's system store
  uint64_t _trustGeneration;
  std::unique_ptr<curl_slist, ListDeleter> _headers;
  std::unique_ptr<CURLM, MultiDeleter> _multi;
  std::map<KOVRequestId, std::unique_ptr<Request>> _requests;  // ordered: cancels complete in posting order
  std::vector<EasyHandle> _idleHandles;  // finished handles, reused with their buffers
  std::set<curl_socket_t> _watched;
  std::optional<KOVEventLoop::TimerId> _timer;
  KOVRequestId _nextId = 1;
};

}  // namespace kovcurl
