#include "KOVCurlAnswerHead.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace kovcurl {
namespace {

// An HTTP/2 server's first frame is SETTINGS: a length of 3 bytes (a multiple of 6), type 4,
// no flags, stream 0.
constexpr std::size_t kFrameHeaderBytes = 9;
constexpr std::size_t kSettingsEntryBytes = 6;
constexpr unsigned char kSettingsType = 0x04;

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return lower(x) == lower(y);
         });
}

// Whether bytes can still be the start of a SETTINGS frame's header.
bool couldBeSettings(std::string_view bytes) {
  for (std::size_t i = 3; i < bytes.size() && i < kFrameHeaderBytes; ++i) {
    if (static_cast<unsigned char>(bytes[i]) != (i == 3 ? kSettingsType : 0)) {
      return false;
    }
  }
  return true;
}

}  // namespace

void KOVCurlAnswerHead::startHead() {
  _begun = true;
  _complete = false;
  _bytes = 0;
  _contentLength.reset();
  _retryAfter.reset();
}

bool KOVCurlAnswerHead::fail(Fault fault) {
  _fault = fault;
  return false;
}

KOVCurlAnswerHead::Fault KOVCurlAnswerHead::fault() const {
  return _fault == Fault::None && !_unframed.empty() ? Fault::NotHttp : _fault;
}

bool KOVCurlAnswerHead::takeLine(std::string_view line) {
  if (line.substr(0, 5) == "HTTP/") {
    startHead();
  }
  _bytes += line.size();
  if (_bytes > kMaxBytes) {
    return fail(Fault::TooLarge);
  }
  if (!_begun || _complete) {
    return true;  // trailers: counted, never read
  }
  if (trimmed(line).empty()) {
    _complete = true;
    return true;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos) {
    return true;  // the status line; anything else is curl's to judge
  }
  const std::string_view name = line.substr(0, colon);
  const std::string_view value = trimmed(line.substr(colon + 1));
  if (sameName(name, "Content-Length")) {
    return takeContentLength(value);
  }
  if (sameName(name, "Retry-After")) {
    // The last one that can be read counts.
    if (std::optional<std::chrono::seconds> wait = retryAfterOf(value, std::time(nullptr))) {
      _retryAfter = wait;
    }
  }
  return true;
}

bool KOVCurlAnswerHead::takeContentLength(std::string_view value) {
  // A list ("5, 5") is as good as one value when its values agree.
  while (true) {
    const std::size_t comma = value.find(',');
    const std::string_view one = trimmed(value.substr(0, comma));
    if (!_contentLength) {
      _contentLength = std::string(one);
    } else if (*_contentLength != one) {
      return fail(Fault::TwoLengths);
    }
    if (comma == std::string_view::npos) {
      return true;
    }
    value.remove_prefix(comma + 1);
  }
}

bool KOVCurlAnswerHead::takeUnframed(std::string_view bytes) {
  _unframed.append(bytes.substr(0, kFrameHeaderBytes - std::min(_unframed.size(), kFrameHeaderBytes)));
  if (!couldBeSettings(_unframed)) {
    return fail(Fault::NotHttp);
  }
  if (_unframed.size() < kFrameHeaderBytes) {
    return true;
  }
  const auto byte = [this](std::size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(_unframed[i])); };
  const std::uint32_t length = byte(0) << 16 | byte(1) << 8 | byte(2);
  return fail(length % kSettingsEntryBytes == 0 ? Fault::Http2Only : Fault::NotHttp);
}

std::optional<std::chrono::seconds> KOVCurlAnswerHead::retryAfterOf(std::string_view value, std::time_t arrived) {
  value = trimmed(value);
  if (value.empty()) {
    return std::nullopt;
  }
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    std::uint64_t seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    (void)end;
    const auto longest = static_cast<std::uint64_t>(kLongestRetryAfter.count());
    return std::chrono::seconds(error == std::errc() ? static_cast<std::int64_t>(std::min(seconds, longest))
                                                     : kLongestRetryAfter.count());
  }
  const std::string text(value);
  const std::time_t date = curl_getdate(text.c_str(), nullptr);
  if (date == -1) {
    return std::nullopt;
  }
  const std::int64_t ahead = static_cast<std::int64_t>(date) - static_cast<std::int64_t>(arrived);
  return std::chrono::seconds(std::clamp<std::int64_t>(ahead, 0, kLongestRetryAfter.count()));
}

}  // namespace kovcurl
