#pragma once
// The JSON bodies the page sends, read strictly: an object with known fields, each once.
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionType.h>

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace kovbridge {

/// Why a body is refused (answered 400 with it).
struct BridgeBodyError {
  std::string message;
};

/// A transaction to start: its type and the page's fields (user, key and station are the
/// bridge's, filled in by the till).
struct BridgeStart {
  KOVTransactionType type = KOVTransactionTypePurchase;
  KOVTransactionDetails details;
};

/// A recovery's body: for a reference the journal does not hold, the page names it again in
/// txnRef to have the service asked about it.
struct BridgeRecoverBody {
  std::optional<std::string> txnRef;
  bool skipSignature = false;
};

/// POST /v1/transactions: "type" (purchase, auth, complete, refund, void) and "txnRef" are
/// needed; "amount" a decimal in a string; the other fields kov-cli's names; "skipSignature"
/// true or false. Whether the record can be sent is the engine's check, not this one's.
std::variant<BridgeStart, BridgeBodyError> parseStart(std::string_view body);
/// POST .../press: {"button":"B1"} or "B2".
std::variant<std::string, BridgeBodyError> parseButton(std::string_view body);
/// POST .../recover: empty, or {"txnRef":...,"skipSignature":...}.
std::variant<BridgeRecoverBody, BridgeBodyError> parseRecover(std::string_view body);

}  // namespace kovbridge
