#include "SimStats.h"

#include <nlohmann/json.hpp>

namespace kovsim {

void SimStats::countConnection() {
  const std::lock_guard<std::mutex> lock(_lock);
  ++_connections;
}

void SimStats::countRequest(const std::string& txnRef, const std::string& txnType) {
  {
    const std::lock_guard<std::mutex> lock(_lock);
    ++_requests;
    if (txnRef.empty()) {
      return;
    }
    auto& counts = _byTxnRef[txnRef];
    counts.try_emplace("Status", 0);
    counts.try_emplace("UI", 0);
    ++counts[txnType];
  }
  _counted.notify_all();
}

std::uint64_t SimStats::connections() const {
  const std::lock_guard<std::mutex> lock(_lock);
  return _connections;
}

std::uint64_t SimStats::requests() const {
  const std::lock_guard<std::mutex> lock(_lock);
  return _requests;
}

std::uint64_t SimStats::count(const std::string& txnRef, const std::string& txnType) const {
  const std::lock_guard<std::mutex> lock(_lock);
  return countLocked(txnRef, txnType);
}

bool SimStats::waitForCount(const std::string& txnRef, const std::string& txnType, std::uint64_t n,
                            std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(_lock);
  return _counted.wait_for(lock, timeout, [&] { return countLocked(txnRef, txnType) >= n; });
}

std::uint64_t SimStats::countLocked(const std::string& txnRef, const std::string& txnType) const {
  const auto txn = _byTxnRef.find(txnRef);
  if (txn == _byTxnRef.end()) {
    return 0;
  }
  const auto type = txn->second.find(txnType);
  return type == txn->second.end() ? 0 : type->second;
}

std::string SimStats::toJson() const {
  const std::lock_guard<std::mutex> lock(_lock);
  nlohmann::json transactions = nlohmann::json::object();
  for (const auto& [txnRef, counts] : _byTxnRef) {
    nlohmann::json perType = nlohmann::json::object();
    for (const auto& [type, n] : counts) {
      perType[type] = n;
    }
    transactions[txnRef] = std::move(perType);
  }
  nlohmann::json stats = {{"connections", _connections}, {"requests", _requests}, {"transactions", transactions}};
  return stats.dump();
}

}  // namespace kovsim
