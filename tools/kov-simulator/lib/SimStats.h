#pragma once
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace kovsim {

/// Counts of what reached the service, for GET /_sim/stats. Thread-safe.
class SimStats {
 public:
  /// One TCP connection accepted.
  void countConnection();
  /// One request document; txnType is counted under its TxnRef (when it has one).
  void countRequest(const std::string& txnRef, const std::string& txnType);

  std::uint64_t connections() const;
  std::uint64_t requests() const;
  /// How many requests of the type reached the service for the TxnRef.
  std::uint64_t count(const std::string& txnRef, const std::string& txnType) const;
  /// Waits until at least n requests of the type arrived for the TxnRef, or the time-out
  /// passed; true when they did.
  bool waitForCount(const std::string& txnRef, const std::string& txnType, std::uint64_t n,
                    std::chrono::milliseconds timeout) const;

  /// {"connections":N,"requests":N,"transactions":{"<TxnRef>":{"Purchase":1,"Status":3,"UI":0}}}
  /// Every TxnRef lists "Status" and "UI", and each other type it received.
  std::string toJson() const;

 private:
  std::uint64_t countLocked(const std::string& txnRef, const std::string& txnType) const;

  mutable std::mutex _lock;
  mutable std::condition_variable _counted;
  std::uint64_t _connections = 0;
  std::uint64_t _requests = 0;
  std::map<std::string, std::map<std::string, std::uint64_t>> _byTxnRef;
};

}  // namespace kovsim
