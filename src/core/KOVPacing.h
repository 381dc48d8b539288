#pragma once
// When the next status poll of a transaction may go: decided from the settings, the clock and
// what happened, without acting. The transaction run sends it then.
#include <KOVModule/KOVURLSession.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

/// The settings of a transaction's pacing.
struct KOVPacingSettings {
  /// The spacing after a failed poll: none for the default growing delay, 0 for at once.
  std::optional<std::chrono::milliseconds> retrySpacing;
  /// The least time between the sending of two loop requests in a row (0: none).
  std::chrono::milliseconds pollFloor{0};
};

/// Pure functions of a transaction's pacing.
class KOVPacing {
 public:
  using TimePoint = KOVMainQueue::Clock::time_point;

  /// The default delay after the failures-th failure in a row: 0.25 s doubled after each one
  /// up to 4 s, spread by jitterSeed over ±20 % so that tills do not retry in step.
  static std::chrono::milliseconds growingDelay(int32_t failures, uint64_t jitterSeed);
  /// When the poll after a failure may go: the spacing from the failed request's sending
  /// (growing by default), the floor from the last loop request's sending, and a wait the
  /// answer asked for (from now); now when none holds it back.
  static TimePoint retryAt(const KOVPacingSettings& settings, int32_t failures, uint64_t jitterSeed,
                           TimePoint failedSentAt, std::optional<std::chrono::milliseconds> retryAfter, TimePoint now);
  /// When the poll after an answer may go: the floor from the last loop request's sending.
  static TimePoint pollAt(const KOVPacingSettings& settings, TimePoint lastSentAt, TimePoint now);
  /// A transaction's own jitter: the same for its retries, different from another till's.
  static uint64_t jitterSeed(const std::string& txnRef, const std::string& stationId);
};
