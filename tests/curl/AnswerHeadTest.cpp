// The head of an answer as curl hands it over: what ends a transfer at once, and the wait a
// Retry-After asks for.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string_view>
#include <tuple>
#include <vector>

#include "KOVCurlAnswerHead.h"

namespace {

using kovcurl::KOVCurlAnswerHead;
using Fault = KOVCurlAnswerHead::Fault;

// An answer's head line by line (each with its CRLF), or, without a status line, as bytes of
// an HTTP/0.9 body: what the session reports of it, and the fault that ends the transfer at
// once (None: the transfer goes on).
struct HeadCase {
  const char* name;
  std::vector<std::string> lines = {};
  Fault fault = Fault::None;
  std::optional<std::chrono::seconds> retryAfter = std::nullopt;
  std::vector<std::string> unframed = {};
  bool toldAtEnd = false;  // the fault is known only once the answer has ended
};

class AnswerHead : public testing::TestWithParam<HeadCase> {};

TEST_P(AnswerHead, TellsWhatEndsTheTransferAndTheWaitAskedFor) {
  const HeadCase& row = GetParam();
  KOVCurlAnswerHead head;
  bool goesOn = true;
  for (const std::string& line : row.lines) goesOn = goesOn && head.takeLine(line);
  for (const std::string& bytes : row.unframed) goesOn = goesOn && head.takeUnframed(bytes);
  EXPECT_EQ(head.fault(), row.fault);
  // A fault known before the end ends the transfer; one told only by the end does not.
  EXPECT_EQ(goesOn, row.fault == Fault::None || row.toldAtEnd);
  EXPECT_EQ(head.retryAfter(), row.retryAfter);
}

constexpr const char* kOk = "HTTP/1.1 200 OK\r\n";
constexpr const char* kEnd = "\r\n";
constexpr std::string_view kSettings("\0\0\x06\x04\0\0\0\0\0\0\x03\0\0\0\x64", 15);

INSTANTIATE_TEST_SUITE_P(
    Heads, AnswerHead,
    testing::Values(
        HeadCase{"same_length_twice", {kOk, "Content-Length: 5\r\n", "content-length:5\r\n", kEnd}},
        HeadCase{.name = "two_lengths_in_one", .lines = {kOk, "Content-Length: 5, 15\r\n"}, .fault = Fault::TwoLengths},
        // An interim answer's head, and trailers after the head, are not the answer's head.
        HeadCase{"interim_answer_first",
                 {"HTTP/1.1 100 Continue\r\n", "Content-Length: 7\r\n", "Retry-After: 9\r\n", kEnd, kOk,
                  "Content-Length: 5\r\n", kEnd, "Content-Length: 6\r\n", kEnd}},
        HeadCase{.name = "retry_after",
                 .lines = {"HTTP/1.1 503 Service Unavailable\r\n", "retry-after:  120 \r\n", kEnd},
                 .retryAfter = std::chrono::seconds(120)},
        HeadCase{.name = "retry_after_unreadable_after_one",
                 .lines = {kOk, "Retry-After: 3\r\n", "Retry-After: soon\r\n", kEnd},
                 .retryAfter = std::chrono::seconds(3)},
        HeadCase{.name = "too_large",
                 .lines = {kOk, "X-Padding: " + std::string(60 * 1024, 'x') + kEnd,
                           "X-Padding: " + std::string(40 * 1024, 'x') + kEnd},
                 .fault = Fault::TooLarge},
        HeadCase{.name = "http2_settings_in_pieces", .fault = Fault::Http2Only,
                 .unframed = {std::string(kSettings.substr(0, 4)), std::string(kSettings.substr(4))}},
        HeadCase{.name = "settings_of_odd_length", .fault = Fault::NotHttp,
                 .unframed = {std::string("\0\0\x05\x04\0\0\0\0\0", 9)}},
        HeadCase{.name = "other_frame_type", .fault = Fault::NotHttp,
                 .unframed = {std::string("\0\0\x06\x01\0\0\0\0\0", 9)}},
        HeadCase{.name = "tls_alert", .fault = Fault::NotHttp,
                 .unframed = {std::string("\x15\x03\x01\x00\x02\x02\x46", 7)}},
        HeadCase{.name = "cut_short", .fault = Fault::NotHttp, .unframed = {std::string("\0\0\x06", 3)},
                 .toldAtEnd = true}),
    [](const auto& info) { return std::string(info.param.name); });

// A Retry-After value, read at a fixed time of arrival: whole seconds, or an HTTP date less
// that time (0 once gone); anything else is none.
class RetryAfter : public testing::TestWithParam<std::tuple<const char*, const char*, std::optional<int64_t>>> {};

TEST_P(RetryAfter, IsSecondsOrADateLessItsArrival) {
  const auto& [name, value, seconds] = GetParam();
  const std::time_t arrived = curl_getdate("Sun, 06 Nov 1994 08:49:37 GMT", nullptr);
  const std::optional<std::chrono::seconds> read = KOVCurlAnswerHead::retryAfterOf(value, arrived);
  EXPECT_EQ(read, seconds ? std::optional(std::chrono::seconds(*seconds)) : std::nullopt) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Values, RetryAfter,
    testing::Values(std::tuple{"blanks_around", " \t7 ", 7}, std::tuple{"past_any_wait", "99999999999999999999999", 2147483647},
                    std::tuple{"date_ahead", "Sun, 06 Nov 1994 08:50:07 GMT", 30},
                    std::tuple{"date_gone", "Sun, 06 Nov 1994 08:49:00 GMT", 0},
                    std::tuple{"empty", "", std::nullopt}, std::tuple{"word", "soon", std::nullopt}),
    [](const auto& info) { return std::string(std::get<0>(info.param)); });

}  // namespace
