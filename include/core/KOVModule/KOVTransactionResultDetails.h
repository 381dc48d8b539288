#pragma once
#include <KOVModule/KOVExport.h>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include <KOVModule/KOVTransactionResult.h>
#include <KOVModule/NSStringDictionary.h>

/// The one result record a transaction hands to the host. Texts are as the service sent
/// them; `response` is the whole final answer.
struct KOV_CORE_EXPORT KOVTransactionResultDetails {
  KOVTransactionResult transactionResult = KOVTransactionResultSucceeded;
  std::optional<std::string> authCode;                       ///< "Scr/Result/AC"
  std::optional<std::string> maskedCardNumber;               ///< "Scr/Result/CN"
  std::optional<std::string> cardName;                       ///< "Scr/Result/CT"
  std::optional<std::string> expectedSettlementDate;         ///< "Scr/Result/DS"
  std::optional<std::string> expectedSettlementDateTimeZone; ///< "Scr/Result/DS_TZ"
  std::optional<std::string> transactionDate;                ///< "Scr/Result/DT"
  std::optional<std::string> transactionDateTimeZone;        ///< "Scr/Result/DT_TZ"
  std::optional<std::string> PIX;                            ///< "Scr/Result/PIX"
  std::optional<std::string> RID;                            ///< "Scr/Result/RID"
  std::optional<std::string> retrievalRefNumber;             ///< "Scr/Result/RRN"
  std::optional<std::string> qelTxnRef;                      ///< "Scr/Result/TR"
  std::optional<std::string> responseText;                   ///< "Scr/Result/RT"
  std::optional<std::string> reCo;                           ///< "Scr/Result/RC", case kept
  std::optional<std::string> receipt;          ///< "Scr/Result/Rcpt" cut into CR LF lines
  int32_t receiptLineWidth = 0;                ///< "Scr/Result/RcptW" (20 when absent)
  std::shared_ptr<NSStringDictionary> response; ///< every key of the final answer
  std::optional<std::string> cardNumber2;      ///< "Scr/Result/CN2"
  std::optional<std::string> qelBillingId;     ///< "Scr/Result/DBID"

  /// A record carrying only a result code; every other field empty.
  static KOVTransactionResultDetails initWithResult(KOVTransactionResult result);
};
