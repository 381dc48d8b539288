#pragma once
// The journal's pending transactions as kov_pending_get hands them over: the entries own their
// texts, and the C structs point into them, so one free releases everything.
#include <KOVModule/KOVJournal.h>
#include <KOVModule/kov.h>

#include <chrono>
#include <utility>
#include <vector>

struct kov_pending_list {
  explicit kov_pending_list(std::vector<KOVJournalEntry> pending) : entries(std::move(pending)) {
    const auto text = [](const std::optional<std::string>& t) { return t ? t->c_str() : nullptr; };
    transactions.reserve(entries.size());
    for (const KOVJournalEntry& e : entries) {
      transactions.push_back(kov_pending_transaction{
          .size = sizeof(kov_pending_transaction),
          .txn_ref = e.txnRef.c_str(),
          .type = text(e.txnType),
          .stage = static_cast<int>(e.stage),
          .station = text(e.stationId),
          .amount = text(e.amount),
          .currency = text(e.currencyCode),
          .user = text(e.userName),
          .merchant_ref = text(e.merchantRef),
          .started_at_ms = std::chrono::duration_cast<std::chrono::milliseconds>(e.startedAt.time_since_epoch()).count(),
          .request_sent = e.requestSent ? 1 : 0,
          .result = e.result ? static_cast<int>(e.result->transactionResult) : -1,
      });
    }
  }
  kov_pending_list(const kov_pending_list&) = delete;
  kov_pending_list& operator=(const kov_pending_list&) = delete;

  const std::vector<KOVJournalEntry> entries;  // never changes once the structs point into it
  std::vector<kov_pending_transaction> transactions;
};
