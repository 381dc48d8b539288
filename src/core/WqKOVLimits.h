#pragma once
// The engine's fixed numbers and its own texts.
#include <chrono>
#include <cstdint>
#include <string_view>

namespace kov::limits {

/// URL-layer failures in a row that are each followed by another poll.
inline constexpr int32_t kMaxConsecutiveTimeouts = 8;
/// Time-out of the first request and of polls until the service names another.
inline constexpr int32_t kDefaultTimeoutSeconds = 30;
/// Longest poll time-out taken from the service; a larger one is cut to this.
inline constexpr int32_t kMaxTimeoutSeconds = 3600;
/// Time-out of a button request.
inline constexpr float kButtonTimeoutSeconds = 10.0f;
/// Least time between the sending of two status polls in a row, unless the host sets another.
inline constexpr std::chrono::milliseconds kDefaultPollFloor{200};
/// How long a transaction may run without a final answer, unless the host sets another.
inline constexpr std::chrono::milliseconds kDefaultDeadline{600'000};
/// Longest wait a Retry-After header is followed for.
inline constexpr std::chrono::milliseconds kMaxRetryAfter{30'000};
/// Receipt width when the answer names none.
inline constexpr int32_t kDefaultReceiptWidth = 20;

inline constexpr std::string_view kAmountOutOfRangeText =
    "The amount cannot be sent: in cents it does not fit in a signed 64-bit number.";
inline constexpr std::string_view kAmountNegativeText =
    "The amount cannot be sent: it is negative (a refund is a transaction type of its own).";
inline constexpr std::string_view kNoDetailsText = "No transaction details were given.";
inline constexpr std::string_view kJournalNeedsReferenceText = "A journalled transaction needs a txnRef.";
inline constexpr std::string_view kJournalUnreadableText = "The journal cannot be read: ";
inline constexpr std::string_view kJournalUnwritableText = "The journal cannot be written: ";

}  // namespace kov::limits
