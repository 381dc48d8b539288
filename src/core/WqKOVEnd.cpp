// The end of a completed transaction: the result record from the final answer.
#include <KOVModule/WqKOV.h>

#include <array>
#include <string_view>
#include <utility>

#include "core/WqKOVLimits.h"
#include "util/KOVText.h"

namespace {

struct ResponseCode {
  std::string_view code;
  KOVTransactionResult result;
};

constexpr std::array<ResponseCode, 9> kResponseCodes{{
    {"p7", KOVTransactionResultInvalidTransactionType},
    {"p8", KOVTransactionResultUserKeyNotMatched},
    {"p9", KOVTransactionResultStationPrefixError},
    {"pb", KOVTransactionResultSessionInitError},
    {"pc", KOVTransactionResultExistingRequestInProgress},
    {"pd", KOVTransactionResultTransmitError},
    {"pg", KOVTransactionResultSessionInitError},
    {"ph", KOVTransactionResultUserIDNotMatched},
    {"tq", KOVTransactionResultTerminalNotConnected},
}};

using TextField = std::optional<std::string> KOVTransactionResultDetails::*;

struct ResultKey {
  const char* key;
  TextField field;
};

// Filled in this order, each with the key's text or the empty text.
const std::array<ResultKey, 15> kResultKeys{{
    {"Scr/Result/AC", &KOVTransactionResultDetails::authCode},
    {"Scr/Result/CN", &KOVTransactionResultDetails::maskedCardNumber},
    {"Scr/Result/CT", &KOVTransactionResultDetails::cardName},
    {"Scr/Result/DS", &KOVTransactionResultDetails::expectedSettlementDate},
    {"Scr/Result/DS_TZ", &KOVTransactionResultDetails::expectedSettlementDateTimeZone},
    {"Scr/Result/DT", &KOVTransactionResultDetails::transactionDate},
    {"Scr/Result/DT_TZ", &KOVTransactionResultDetails::transactionDateTimeZone},
    {"Scr/Result/PIX", &KOVTransactionResultDetails::PIX},
    {"Scr/Result/RID", &KOVTransactionResultDetails::RID},
    {"Scr/Result/RRN", &KOVTransactionResultDetails::retrievalRefNumber},
    {"Scr/Result/TR", &KOVTransactionResultDetails::qelTxnRef},
    {"Scr/Result/CN2", &KOVTransactionResultDetails::cardNumber2},
    {"Scr/Result/DBID", &KOVTransactionResultDetails::qelBillingId},
    {"Scr/Result/RT", &KOVTransactionResultDetails::responseText},
    {"Scr/Result/RC", &KOVTransactionResultDetails::reCo},
}};

}  // namespace

KOVTransactionResult WqKOV::reCoToResultType(const std::string& reco) {
  const std::string lowered = kov::text::lowercase(reco);
  for (const ResponseCode& entry : kResponseCodes) {
    if (lowered == entry.code) {
      return entry.result;
    }
  }
  return KOVTransactionResultFailed;
}

void WqKOV::processTransactionEnd(std::shared_ptr<NSStringDictionary> response) {
  if (!_resultHandler) {
    return;  // the result was delivered already
  }
  if (!response) {
    response = std::make_shared<NSStringDictionary>();
  }
  KOVTransactionResultDetails record;
  for (const ResultKey& entry : kResultKeys) {
    record.*entry.field = getStrValue(*response, entry.key, std::string());
  }
  const int32_t width = getIntValue(*response, "Scr/Result/RcptW", kov::limits::kDefaultReceiptWidth);
  record.receipt = segmentString(getStrValue(*response, "Scr/Result/Rcpt", std::string()), width);
  record.receiptLineWidth = width;
  const bool approved = getIntValue(*response, "Scr/Result/AP", 0) == 1;
  record.transactionResult = approved ? KOVTransactionResultSucceeded : reCoToResultType(*record.reCo);
  record.response = std::move(response);

  // The handler is taken out and the transaction closed before the call, so the host may
  // start its next transaction from inside the handler.
  KOVTransactionResultHandler handler = std::exchange(_resultHandler, nullptr);
  finishTransaction();
  handler(std::move(record));
}
