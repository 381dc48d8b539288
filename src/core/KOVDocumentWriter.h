#pragma once
// The three documents the engine sends, each also as the text the debug log may show.
#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionType.h>
#include <KOVModule/WqXMLDocument.h>

#include <memory>
#include <optional>
#include <string>

/// Writes request documents from the host's record, read anew for every document.
/// With maskKey the key attribute is written as "......": that is the text the debug log
/// shows, so the mask sits exactly where the key would.
class KOVDocumentWriter {
 public:
  /// Wire name of a type ("Purchase" ...); "" outside 0..4.
  static std::string typeName(KOVTransactionType txnType);
  /// The amount with two decimals, cut (never rounded) toward zero; "0.00" for none;
  /// negative amounts as "-3.50". nullopt when it does not fit in 64 bits of cents.
  static std::optional<std::string> amountText(const std::optional<KOVDecimal>& amount);
  /// The skeleton shared by every request: Scr with action, user, key and TxnRef.
  static std::shared_ptr<WqXMLDocument> skeleton(const KOVTransactionDetails& details, bool maskKey);
  /// The transaction request; nullopt when its amount cannot be written.
  static std::optional<std::string> transactionRequest(const KOVTransactionDetails& details,
                                                       const std::optional<std::string>& typeName, bool maskKey);
  static std::string statusRequest(const KOVTransactionDetails& details, bool maskKey);
  static std::string buttonRequest(const KOVTransactionDetails& details, const std::string& buttonName,
                                   const std::optional<std::string>& buttonValue, bool maskKey);
};
