#pragma once
// The till behind a kov_client handle: an engine of its own, the curl transport on the
// library's own loop, and the callbacks of the transaction it runs.
#include <KOVModule/KOVCurlTrust.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/WqKOV.h>
#include <KOVModule/kov.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

struct kov_client {
  /// Wired to the endpoint for both of the engine's endpoint choices.
  explicit kov_client(const std::string& endpointUrl);
  ~kov_client();
  kov_client(const kov_client&) = delete;
  kov_client& operator=(const kov_client&) = delete;

  /// Starts (recover: follows) the transaction; the callbacks are this transaction's.
  int begin(const kov_transaction& txn, const kov_callbacks& callbacks, bool recover);
  /// Runs until the result of the transaction begun last has been delivered, or the time is up.
  int run(int timeoutMs);
  int fail(int code, std::string why) {
    error = std::move(why);
    return code;
  }

  std::shared_ptr<KOVPollLoop> loop = std::make_shared<KOVPollLoop>();
  /// The certificates this client trusts besides the system's, for its sessions only.
  std::shared_ptr<KOVCurlTrust> trust = std::make_shared<KOVCurlTrust>();
  WqKOV engine;
  kov_callbacks callbacks{};
  bool awaitingResult = false;  // from a begin until its result has been handed over
  // Counts the transactions begun, so that a cancel asked from another thread reaches only the
  // transaction that ran when it was asked, never the next one.
  std::atomic<uint64_t> generation{0};
  std::string error;            // why the last failing call failed
};
