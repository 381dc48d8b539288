#include "BridgeMetrics.h"

#include <cstdio>

namespace kovbridge {
namespace {

const char* typeName(KOVTransactionType type) {
  switch (type) {
    case KOVTransactionTypePurchase: return "purchase";
    case KOVTransactionTypeAuth: return "auth";
    case KOVTransactionTypeComplete: return "complete";
    case KOVTransactionTypeRefund: return "refund";
    case KOVTransactionTypeVoid: return "void";
  }
  return "unknown";
}

const char* resultName(KOVTransactionResult result) {
  switch (result) {
    case KOVTransactionResultSucceeded: return "approved";
    case KOVTransactionResultFailed: return "failed";
    case KOVTransactionResultInvalidTransactionType: return "invalid_transaction_type";
    case KOVTransactionResultUserKeyNotMatched: return "user_key_not_matched";
    case KOVTransactionResultStationPrefixError: return "station_prefix_error";
    case KOVTransactionResultExistingRequestInProgress: return "existing_request_in_progress";
    case KOVTransactionResultTransmitError: return "transmit_error";
    case KOVTransactionResultSessionInitError: return "session_init_error";
    case KOVTransactionResultUserIDNotMatched: return "user_id_not_matched";
    case KOVTransactionResultTerminalNotConnected: return "terminal_not_connected";
    case KOVTransactionResultTimeout: return "timeout";
  }
  return "unknown";
}

// Prometheus reads Go's float syntax; %g writes what it reads back.
std::string number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace

void BridgeMetrics::countTransaction(std::optional<KOVTransactionType> type, KOVTransactionResult result) {
  ++_transactions[{type ? typeName(*type) : "recover", resultName(result)}];
}

void BridgeMetrics::countPollFailure() { ++_pollFailures; }

void BridgeMetrics::observeRoundTrip(double seconds) {
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    if (seconds <= kBuckets[i]) ++_bucketCounts[i];
  }
  ++_roundTrips;
  _roundTripSum += seconds;
}

std::string BridgeMetrics::render(std::size_t pending) const {
  std::string text =
      "# HELP kov_transactions_total Transactions ended, by type and result.\n"
      "# TYPE kov_transactions_total counter\n";
  for (const auto& [labels, count] : _transactions) {
    text += "kov_transactions_total{type=\"" + labels.first + "\",result=\"" + labels.second + "\"} " +
            std::to_string(count) + "\n";
  }
  text +=
      "# HELP kov_poll_failures_total Requests to the service that failed (no answer, or an HTTP error).\n"
      "# TYPE kov_poll_failures_total counter\n"
      "kov_poll_failures_total " + std::to_string(_pollFailures) + "\n"
      "# HELP kov_poll_duration_seconds Time from a request to the service to its answer.\n"
      "# TYPE kov_poll_duration_seconds histogram\n";
  for (std::size_t i = 0; i < kBuckets.size(); ++i) {
    text += "kov_poll_duration_seconds_bucket{le=\"" + number(kBuckets[i]) + "\"} " + std::to_string(_bucketCounts[i]) + "\n";
  }
  text += "kov_poll_duration_seconds_bucket{le=\"+Inf\"} " + std::to_string(_roundTrips) + "\n"
          "kov_poll_duration_seconds_sum " + number(_roundTripSum) + "\n"
          "kov_poll_duration_seconds_count " + std::to_string(_roundTrips) + "\n"
          "# HELP kov_pending_transactions Transactions the journal holds unfinished.\n"
          "# TYPE kov_pending_transactions gauge\n"
          "kov_pending_transactions " + std::to_string(pending) + "\n";
  return text;
}

}  // namespace kovbridge
