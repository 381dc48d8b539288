#include <KOVModule/KOVTransactionResultDetails.h>

KOVTransactionResultDetails KOVTransactionResultDetails::initWithResult(KOVTransactionResult result) {
  KOVTransactionResultDetails record;
  record.transactionResult = result;
  return record;
}
