#pragma once
// The request record the tests start their purchases with: 12.50 AUD at station ST01.
#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVTransactionDetails.h>

#include <memory>

namespace kovtest {

inline std::shared_ptr<KOVTransactionDetails> sampleDetails() {
  auto d = std::make_shared<KOVTransactionDetails>();
  d->userName = "merchant";
  d->key = "s3cret";
  d->stationId = "ST01";
  d->amount = KOVDecimal::parse("12.50");
  d->currencyCode = "AUD";
  d->txnRef = "T-1";
  return d;
}

}  // namespace kovtest
