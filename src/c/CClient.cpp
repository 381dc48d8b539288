#include "CClient.h"

#include "CResultView.h"

#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVDecimal.h>

#include <cstddef>
#include <optional>

namespace {

// Whether a struct of the caller's size holds the member (structs only grow at their end).
#define KOV_HOLDS(object, type, member) ((object).size >= offsetof(type, member) + sizeof((object).member))

std::optional<std::string> text(const char* value) { return value ? std::optional<std::string>(value) : std::nullopt; }

const char* chars(const std::optional<std::string>& value) { return value ? value->c_str() : nullptr; }

int errorOf(KOVRefusalKind kind) {
  switch (kind) {
    case KOVRefusalDuplicateReference: return KOV_ERROR_DUPLICATE_REFERENCE;
    case KOVRefusalJournal: return KOV_ERROR_JOURNAL;
    case KOVRefusalBusy: return KOV_ERROR_BUSY;
    case KOVRefusalRecord: break;
  }
  return KOV_ERROR_INVALID_ARGUMENT;
}

}  // namespace

kov_client::kov_client(const std::string& endpointUrl) {
  engine.setSessionFactory(KOVCurlTransport::sessionFactory(loop, trust));
  engine.setMainQueue(loop);
  engine.setEndpointUrls(endpointUrl, endpointUrl);
}

kov_client::~kov_client() {
  // Nothing of the client outlives it: outstanding requests are cancelled now, and their
  // completions, posted to the loop, go with it unrun. A running transaction is abandoned,
  // not cancelled: the terminal may still approve; the host recovers it by its reference.
  engine.releaseSession();
}

int kov_client::begin(const kov_transaction& txn, const kov_callbacks& given, bool recover) {
  if (!KOV_HOLDS(txn, kov_transaction, skip_signature) || !KOV_HOLDS(given, kov_callbacks, user_data)) {
    return fail(KOV_ERROR_INVALID_ARGUMENT, "the transaction or the callbacks are older than this library knows");
  }
  if (!given.on_result) {
    return fail(KOV_ERROR_INVALID_ARGUMENT, "on_result is needed: it receives the transaction's one result");
  }
  if (awaitingResult || engine.isTransactionInProgress()) {
    return fail(KOV_ERROR_BUSY, "a transaction already runs on this client");
  }
  if (!recover && (txn.type < KOV_PURCHASE || txn.type > KOV_VOID)) {
    return fail(KOV_ERROR_INVALID_ARGUMENT, "type " + std::to_string(txn.type) + " is not a transaction type");
  }
  auto details = std::make_shared<KOVTransactionDetails>();
  if (txn.amount && !(details->amount = KOVDecimal::parse(txn.amount))) {
    return fail(KOV_ERROR_INVALID_ARGUMENT,
                "the amount '" + std::string(txn.amount) + "' is not a plain decimal number such as 12.50");
  }
  if (recover && txn.amount) {
    return fail(KOV_ERROR_INVALID_ARGUMENT, "a recovery takes no amount: it follows the payment as it was sent");
  }
  details->userName = text(txn.user);
  details->key = text(txn.key);
  details->stationId = text(txn.station);
  details->txnRef = text(txn.txn_ref);
  details->currencyCode = text(txn.currency);
  details->merchantRef = text(txn.merchant_ref);
  details->qelTxnRef = text(txn.qel_txn_ref);
  details->deviceId = text(txn.device_id);
  details->posName = text(txn.pos_name);
  details->posVersion = text(txn.pos_version);
  details->vendorId = text(txn.vendor_id);
  details->skipSignatureVerification = txn.skip_signature != 0;
  if (KOV_HOLDS(txn, kov_transaction, url_fail)) {
    details->urlSuccess = text(txn.url_success);
    details->urlFail = text(txn.url_fail);
  }
  KOVTransactionRecoveryDetails recovery;
  recovery.userName = details->userName;
  recovery.key = details->key;
  recovery.stationId = details->stationId;
  recovery.txnRef = details->txnRef;
  recovery.skipSignatureVerification = details->skipSignatureVerification;
  // Whatever would not arrive as the host meant it is refused here, nothing sent.
  const std::optional<KOVRefusal> refusal =
      recover ? engine.refusalOfRecovery(recovery, KOVRecordCheckStrict)
              : engine.refusalOfStart(*details, static_cast<KOVTransactionType>(txn.type), KOVRecordCheckStrict);
  if (refusal) {
    return fail(errorOf(refusal->kind), refusal->reason.empty() ? "a transaction already runs on this client"
                                                                 : refusal->reason);
  }
  callbacks = kov_callbacks{};
  callbacks.size = sizeof(kov_callbacks);
  callbacks.on_screen = given.on_screen;
  callbacks.on_result = given.on_result;
  callbacks.on_log = given.on_log;
  callbacks.on_signature = given.on_signature;
  callbacks.user_data = given.user_data;

  const kov_callbacks& mine = callbacks;
  KOVTransactionDebugLogHandler log;
  if (mine.on_log) {
    log = [mine](KOVTransactionLogEntryType type, const std::string& entry) {
      mine.on_log(mine.user_data, static_cast<int>(type), entry.c_str());
    };
  }
  StatusChangeHandler screen = [mine](KOVState state, const std::optional<std::string>& receipt,
                                      const std::string& line1, const std::string& line2,
                                      const std::optional<std::string>& button1,
                                      const std::optional<std::string>& button2) {
    if (mine.on_screen) {
      const kov_screen shown{sizeof(kov_screen), static_cast<int>(state), line1.c_str(), line2.c_str(),
                             chars(button1),     chars(button2),          chars(receipt)};
      mine.on_screen(mine.user_data, &shown);
    }
  };
  KOVTransactionSignatureReceiptHandler signature;
  if (mine.on_signature) {
    signature = [mine](const std::optional<std::string>& receipt) {
      mine.on_signature(mine.user_data, chars(receipt));
    };
  }
  KOVTransactionResultHandler result = [this, mine, txnRef = details->txnRef.value_or("")](
                                           KOVTransactionResultDetails record) {
    awaitingResult = false;  // first: the host may begin the next transaction from on_result
    const CResultView view(record, txnRef, engine.lastOutcome());
    mine.on_result(mine.user_data, &view.result());
  };
  error.clear();
  awaitingResult = true;
  ++generation;
  if (recover) {
    engine.recoverTransaction(recovery, true, static_cast<bool>(log), log, screen, result, signature);
  } else {
    engine.startTransaction(details, static_cast<KOVTransactionType>(txn.type), true, static_cast<bool>(log), log,
                            screen, result, signature);
  }
  return KOV_OK;
}

int kov_client::run(int timeoutMs) {
  std::optional<KOVEventLoop::TimerId> deadline;
  if (timeoutMs >= 0) {
    deadline = loop->startTimer(std::chrono::milliseconds(timeoutMs), [this] { loop->quit(); });
  }
  const bool delivered = loop->runUntil([this] { return !awaitingResult; });
  if (deadline) {
    loop->cancelTimer(*deadline);
  }
  if (delivered) {
    return KOV_OK;
  }
  return timeoutMs >= 0 ? KOV_RUNNING : fail(KOV_ERROR_INTERNAL, "nothing is left that could end the transaction");
}
