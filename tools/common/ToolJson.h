#pragma once
// The JSON lines of the tools: one object per line, texts as strings or null. kov-cli writes
// them and kov-bridge sends the same lines as its events and answers, so a change here is a
// change of both programs' output.
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionLogEntryType.h>
#include <KOVModule/KOVTransactionOutcome.h>
#include <KOVModule/KOVTransactionResultDetails.h>

#include <optional>
#include <string>

namespace kovtools {

/// The result record with every field under its own name, then "reason" (why it is not the
/// service's answer about the payment, or null) and "requestSent" (false when the
/// transaction request provably never reached the service).
std::string resultJson(const KOVTransactionResultDetails& result, const KOVTransactionOutcome& outcome);
/// An unfinished transaction of the journal: "txnRef", "type" (the wire name), "stage"
/// ("sent" or "answered"), "station", "amount" (as sent), "currency", "user", "merchantRef",
/// "startedAt" (ISO 8601, UTC), "result" (the code that arrived, or null) and "requestSent".
std::string pendingJson(const KOVJournalEntry& entry);
/// One screen update.
std::string statusJson(KOVState state, const std::optional<std::string>& receipt, const std::string& firstLine,
                       const std::string& secondLine, const std::optional<std::string>& button1,
                       const std::optional<std::string>& button2);
/// One call of the signature receipt handler.
std::string signatureReceiptJson(const std::optional<std::string>& receipt);
/// One debug log entry.
std::string logJson(KOVTransactionLogEntryType type, const std::string& entry);

}  // namespace kovtools
