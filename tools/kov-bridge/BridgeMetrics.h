#pragma once
// The bridge's counters, and their Prometheus text.
#include <KOVModule/KOVTransactionResult.h>
#include <KOVModule/KOVTransactionType.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace kovbridge {

/// What a monitoring system scrapes from /metrics: transactions by type and result, failed
/// polls, the round trip of the service's requests and the journal's pending count. Nothing
/// of a single payment (no reference, no amount).
class BridgeMetrics {
 public:
  /// Upper bounds of the round-trip histogram's buckets, in seconds (a held poll can take
  /// most of a minute).
  static constexpr std::array<double, 12> kBuckets{0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 60};

  /// A transaction ended; a recovery has no type of its own and counts as "recover".
  void countTransaction(std::optional<KOVTransactionType> type, KOVTransactionResult result);
  void countPollFailure();
  void observeRoundTrip(double seconds);

  /// The text format (version 0.0.4), with pending as the journal's unfinished count.
  std::string render(std::size_t pending) const;

 private:
  std::map<std::pair<std::string, std::string>, uint64_t> _transactions;
  uint64_t _pollFailures = 0;
  std::array<uint64_t, kBuckets.size()> _bucketCounts{};
  uint64_t _roundTrips = 0;
  double _roundTripSum = 0;
};

}  // namespace kovbridge
