#include "CResultView.h"

#include <optional>

namespace {

const char* chars(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }

}  // namespace

CResultView::CResultView(const KOVTransactionResultDetails& r, const std::string& txnRef,
                         const KOVTransactionOutcome& outcome)
    : _txnRef(txnRef), _outcome(outcome) {
  if (r.response) {
    _keys.reserve(r.response->size());
    _values.reserve(r.response->size());
    for (const auto& [key, value] : *r.response) {
      _keys.push_back(key.c_str());
      _values.push_back(value.c_str());
    }
  }
  // Every member by name: kov_result only grows at its end, and its texts are not in the
  // record's order.
  _result = kov_result{
      .size = sizeof(kov_result),
      .result = static_cast<int>(r.transactionResult),
      .auth_code = chars(r.authCode),
      .masked_card_number = chars(r.maskedCardNumber),
      .card_name = chars(r.cardName),
      .response_text = chars(r.responseText),
      .response_code = chars(r.reCo),
      .receipt = chars(r.receipt),
      .transaction_date = chars(r.transactionDate),
      .retrieval_ref_number = chars(r.retrievalRefNumber),
      .expected_settlement_date = chars(r.expectedSettlementDate),
      .expected_settlement_date_time_zone = chars(r.expectedSettlementDateTimeZone),
      .transaction_date_time_zone = chars(r.transactionDateTimeZone),
      .pix = chars(r.PIX),
      .rid = chars(r.RID),
      .qel_txn_ref = chars(r.qelTxnRef),
      .card_number2 = chars(r.cardNumber2),
      .qel_billing_id = chars(r.qelBillingId),
      .receipt_line_width = r.receiptLineWidth,
      .response_count = _keys.size(),
      .response_keys = _keys.data(),
      .response_values = _values.data(),
      .txn_ref = _txnRef.c_str(),
      .reason = chars(_outcome.reason),
      .request_sent = _outcome.requestSent ? 1 : 0,
  };
}
