#pragma once
// The result record's text fields, listed once: where each comes from in the final answer and
// what each is called outside C++. The answer decoder and the record's JSON line iterate the
// list; the C interface's kov_result and the Python package are checked against it by tests,
// so a field added here and not there fails a test.
#include <KOVModule/KOVTransactionResultDetails.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>

/// One text field of KOVTransactionResultDetails.
struct KOVResultText {
  std::optional<std::string> KOVTransactionResultDetails::*field;
  std::string_view key;        ///< the final answer's key it is read from
  std::string_view name;       ///< its name in the JSON line: the member's own
  std::string_view snakeName;  ///< its name in the C interface's kov_result and in Python
  /// Cut into CR LF lines of the receipt width, and none when the answer lacks the key (the
  /// receipt); every other text is copied, the empty text when the key is missing.
  bool cutIntoLines = false;
};

// The JSON name is the member's name, spelled once.
#define KOV_RESULT_TEXT(member, key, snakeName, cutIntoLines) \
  KOVResultText { &KOVTransactionResultDetails::member, key, #member, snakeName, cutIntoLines }

/// In the record's order, which is the JSON line's: receiptLineWidth and response follow
/// the receipt. A new field goes at the end.
constexpr std::array kKOVResultTexts{
    KOV_RESULT_TEXT(authCode, "Scr/Result/AC", "auth_code", false),
    KOV_RESULT_TEXT(maskedCardNumber, "Scr/Result/CN", "masked_card_number", false),
    KOV_RESULT_TEXT(cardName, "Scr/Result/CT", "card_name", false),
    KOV_RESULT_TEXT(expectedSettlementDate, "Scr/Result/DS", "expected_settlement_date", false),
    KOV_RESULT_TEXT(expectedSettlementDateTimeZone, "Scr/Result/DS_TZ", "expected_settlement_date_time_zone", false),
    KOV_RESULT_TEXT(transactionDate, "Scr/Result/DT", "transaction_date", false),
    KOV_RESULT_TEXT(transactionDateTimeZone, "Scr/Result/DT_TZ", "transaction_date_time_zone", false),
    KOV_RESULT_TEXT(PIX, "Scr/Result/PIX", "pix", false),
    KOV_RESULT_TEXT(RID, "Scr/Result/RID", "rid", false),
    KOV_RESULT_TEXT(retrievalRefNumber, "Scr/Result/RRN", "retrieval_ref_number", false),
    KOV_RESULT_TEXT(qelTxnRef, "Scr/Result/TR", "qel_txn_ref", false),
    KOV_RESULT_TEXT(responseText, "Scr/Result/RT", "response_text", false),
    KOV_RESULT_TEXT(reCo, "Scr/Result/RC", "response_code", false),
    KOV_RESULT_TEXT(receipt, "Scr/Result/Rcpt", "receipt", true),
    KOV_RESULT_TEXT(cardNumber2, "Scr/Result/CN2", "card_number2", false),
    KOV_RESULT_TEXT(qelBillingId, "Scr/Result/DBID", "qel_billing_id", false),
};

#undef KOV_RESULT_TEXT
