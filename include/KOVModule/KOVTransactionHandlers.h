#pragma once
#include <functional>
#include <optional>
#include <string>

#include <KOVModule/KOVTransactionLogEntryType.h>
#include <KOVModule/KOVTransactionResultDetails.h>

/// Receives the transaction's one result record (by value: the host owns it).
using KOVTransactionResultHandler = std::function<void(KOVTransactionResultDetails resultDetails)>;
/// Receives the receipt (or nullopt) when the terminal enters the signature step.
using KOVTransactionSignatureReceiptHandler = std::function<void(const std::optional<std::string>& receipt)>;
/// Receives every debug log entry while debug mode is on.
using KOVTransactionDebugLogHandler = std::function<void(KOVTransactionLogEntryType entryType, const std::string& entry)>;
