#pragma once
#include <functional>
#include <optional>
#include <string>

#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionLogEntryType.h>
#include <KOVModule/KOVTransactionResultDetails.h>

/// Receives the transaction's one result record (by value: the host owns it).
using KOVTransactionResultHandler = std::function<void(KOVTransactionResultDetails resultDetails)>;
/// Receives the receipt (or nullopt) when the terminal enters the signature step.
using KOVTransactionSignatureReceiptHandler = std::function<void(const std::optional<std::string>& receipt)>;
/// Receives every debug log entry while debug mode is on.
using KOVTransactionDebugLogHandler = std::function<void(KOVTransactionLogEntryType entryType, const std::string& entry)>;
/// Receives every screen update of the engine: state, receipt, the two lines, the two
/// buttons (nullopt when a button is not to be shown).
using StatusChangeHandler = std::function<void(KOVState state, const std::optional<std::string>& receipt,
                                               const std::string& firstLine, const std::string& secondLine,
                                               const std::optional<std::string>& button1,
                                               const std::optional<std::string>& button2)>;
