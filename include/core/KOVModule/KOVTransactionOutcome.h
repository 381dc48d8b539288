#pragma once
#include <optional>
#include <string>

/// How a transaction ended, beside its result record: what the record cannot say.
struct KOVTransactionOutcome {
  std::string txnRef;
  /// Why the result is not the service's answer about the payment, in plain words: the last
  /// failure before a time-out ("connection refused by 127.0.0.1:8080", "HTTP 404 without a
  /// screen"), a refusal before anything was sent, a recovery the service refused. None when
  /// the result is the service's answer about the payment.
  std::optional<std::string> reason;
  /// Whether the transaction request can have reached the service. False only when it was
  /// never sent (refused before sending) or provably never left (no byte of it was written);
  /// for a recovery, what the journal knows of the request it follows (true when unknown).
  bool requestSent = true;
};
