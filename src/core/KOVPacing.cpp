// The pacing of a transaction's polls.
#include "core/KOVPacing.h"

#include <algorithm>

namespace {

constexpr std::chrono::milliseconds kFirstDelay{250};
constexpr std::chrono::milliseconds kLongestDelay{4000};

// FNV-1a: stable across runs and platforms, so a transaction's pacing can be checked.
uint64_t fnv1a(uint64_t hash, const std::string& text) {
  for (const char c : text) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211u;
  }
  return hash;
}

}  // namespace

std::chrono::milliseconds KOVPacing::growingDelay(int32_t failures, uint64_t jitterSeed) {
  const int32_t doublings = std::clamp(failures - 1, 0, 8);
  const std::chrono::milliseconds nominal = std::min(kFirstDelay * (int64_t{1} << doublings), kLongestDelay);
  // A factor from 0.8 to 1.2, different for each failure of the transaction.
  const uint64_t mixed = fnv1a(jitterSeed, std::to_string(failures));
  const double factor = 0.8 + 0.4 * static_cast<double>(mixed % 10001) / 10000.0;
  return std::chrono::milliseconds(static_cast<int64_t>(static_cast<double>(nominal.count()) * factor));
}

KOVPacing::TimePoint KOVPacing::retryAt(const KOVPacingSettings& settings, int32_t failures, uint64_t jitterSeed,
                                        TimePoint failedSentAt, std::optional<std::chrono::milliseconds> retryAfter,
                                        TimePoint now) {
  const std::chrono::milliseconds spacing = settings.retrySpacing.value_or(growingDelay(failures, jitterSeed));
  TimePoint at = std::max(failedSentAt + spacing, failedSentAt + settings.pollFloor);
  if (retryAfter) {
    at = std::max(at, now + *retryAfter);
  }
  return std::max(at, now);
}

KOVPacing::TimePoint KOVPacing::pollAt(const KOVPacingSettings& settings, TimePoint lastSentAt, TimePoint now) {
  return std::max(lastSentAt + settings.pollFloor, now);
}

uint64_t KOVPacing::jitterSeed(const std::string& txnRef, const std::string& stationId) {
  return fnv1a(fnv1a(14695981039346656037u, txnRef) ^ 0xff, stationId);
}
