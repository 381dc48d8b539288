#pragma once
// What a transfer learns from the head of its answer, line by line as curl hands it over.
#include <chrono>
#include <cstddef>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kovcurl {

/// The head of one answer, read from curl's header callback (and, for an answer that has no
/// status line, from the first bytes curl passes on as its body). It keeps what the session
/// reports beside the status (a Retry-After), and finds what makes an answer unreadable before
/// curl would: a head too large, Content-Length headers that disagree (curl would take one of
/// them and wait for a body that never comes), an HTTP/2 frame where an HTTP/1.1 status line
/// belongs. Nothing of the answer is kept beyond that.
class KOVCurlAnswerHead {
 public:
  enum class Fault {
    None,
    TooLarge,    ///< more than kMaxBytes of head (or one line over curl's own limit)
    TwoLengths,  ///< two different Content-Length values
    Http2Only,   ///< an HTTP/2 SETTINGS frame instead of a status line: an HTTP/2-only server
    NotHttp,     ///< anything else that is not an HTTP status line
  };

  /// The most head an answer may have: a screen's answer needs a few hundred bytes.
  static constexpr std::size_t kMaxBytes = 100 * 1024;
  /// The longest wait a Retry-After is read as, so that it can be counted in milliseconds.
  static constexpr std::chrono::seconds kLongestRetryAfter{2'147'483'647};

  /// Takes one line of the head with its line end, as curl's header callback gets it. A status
  /// line starts the head afresh (an interim 1xx answer, a proxy's answer to CONNECT come
  /// before the server's own); lines after the blank one are trailers, only counted. False
  /// when the transfer must end: fault() says why.
  bool takeLine(std::string_view line);
  /// Takes bytes of an answer that came without a status line (curl passes them on as an
  /// HTTP/0.9 body). False once they tell what the answer is, which is always a fault; true
  /// while too few have come to tell.
  bool takeUnframed(std::string_view bytes);

  /// True once a status line came: the answer is HTTP/1.
  bool begun() const { return _begun; }
  /// True while a head is begun and its blank line has not come: a transfer that fails now
  /// failed on a line of the head.
  bool inHead() const { return _begun && !_complete; }
  /// Why the answer cannot be read. An answer that ended before its first bytes told what it
  /// is, is NotHttp.
  Fault fault() const;
  /// The last readable Retry-After of the answer's head.
  std::optional<std::chrono::seconds> retryAfter() const { return _retryAfter; }

  /// A Retry-After value: delay-seconds, or an HTTP date less arrived (0 for a date gone);
  /// nullopt for anything else. At most kLongestRetryAfter.
  static std::optional<std::chrono::seconds> retryAfterOf(std::string_view value, std::time_t arrived);

 private:
  void startHead();
  bool fail(Fault fault);
  bool takeContentLength(std::string_view value);

  bool _begun = false;
  bool _complete = false;
  std::size_t _bytes = 0;
  std::optional<std::string> _contentLength;
  std::optional<std::chrono::seconds> _retryAfter;
  std::string _unframed;  // at most the nine bytes of a frame header
  Fault _fault = Fault::None;
};

}  // namespace kovcurl
