// The engine's identity, its wiring to the platform, and the two ways a transaction begins.
#include <KOVModule/WqKOV.h>

#include <utility>

#include "core/WqKOVLimits.h"

const char* const kWqKOVUATUrl = "https://uat.kov-payments.example/wqmi3/pos.aspx";
const char* const kWqKOVSecUrl = "https://secure.kov-payments.example/wqmi3/pos.aspx";

WqKOV& WqKOV::get() {
  static WqKOV instance;
  return instance;
}

WqKOV::WqKOV() : _uatUrl(kWqKOVUATUrl), _secUrl(kWqKOVSecUrl) {}

WqKOV::~WqKOV() {
  // Dropping the session cancels what is outstanding; completions that still arrive find
  // a new generation and are ignored.
  ++_generation;
  if (_currentSession) {
    _currentSession->invalidateAndCancel();
  }
}

void WqKOV::setSessionFactory(KOVURLSessionFactory factory) { _sessionFactory = std::move(factory); }

void WqKOV::setMainQueue(std::shared_ptr<KOVMainQueue> mainQueue) { _mainQueue = std::move(mainQueue); }

void WqKOV::startTransaction(std::shared_ptr<KOVTransactionDetails> txnDetails, KOVTransactionType txnType,
                             bool useUAT, bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                             StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                             KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  if (_inProgress) {
    refuseStart(std::move(resultHandler), KOVTransactionResultExistingRequestInProgress, std::nullopt);
    return;
  }
  if (!txnDetails) {
    refuseStart(std::move(resultHandler), KOVTransactionResultFailed,
                std::string(kov::limits::kNoDetailsText));
    return;
  }
  _currentTxnType = txnType;
  _currentTxnDetails = std::move(txnDetails);
  _currentTxnTypeStr = txnTypeToStr(txnType);
  // An amount that cannot be written exactly is never sent.
  std::optional<std::string> request = generateRequest();
  if (!request) {
    refuseStart(std::move(resultHandler), KOVTransactionResultFailed,
                std::string(kov::limits::kAmountOutOfRangeText));
    return;
  }
  beginTransaction(useUAT, debugMode, std::move(debugLogHandler), std::move(statusChangeHandler),
                   std::move(resultHandler), std::move(signatureReceiptHandler));
  sendLoopRequest(*request, static_cast<float>(_currentTimeoutInSeconds));
}

void WqKOV::recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, bool useUAT,
                               bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                               StatusChangeHandler statusChangeHandler,
                               KOVTransactionResultHandler resultHandler,
                               KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  if (_inProgress) {
    refuseStart(std::move(resultHandler), KOVTransactionResultExistingRequestInProgress, std::nullopt);
    return;
  }
  auto details = std::make_shared<KOVTransactionDetails>();
  details->stationId = txnRecoveryDetails.stationId;
  details->userName = txnRecoveryDetails.userName;
  details->key = txnRecoveryDetails.key;
  details->txnRef = txnRecoveryDetails.txnRef;
  details->skipSignatureVerification = txnRecoveryDetails.skipSignatureVerification;
  _currentTxnDetails = std::move(details);
  // The type fields stay as they are: a recovery sends no transaction request.
  beginTransaction(useUAT, debugMode, std::move(debugLogHandler), std::move(statusChangeHandler),
                   std::move(resultHandler), std::move(signatureReceiptHandler));
  sendLoopRequest(generateStatusRequest(), static_cast<float>(_currentTimeoutInSeconds));
}

void WqKOV::beginTransaction(bool useUAT, bool debugMode, KOVTransactionDebugLogHandler debugLogHandler,
                             StatusChangeHandler statusChangeHandler, KOVTransactionResultHandler resultHandler,
                             KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  _isUAT = useUAT;
  _statusChangeHandler = std::move(statusChangeHandler);
  _resultHandler = std::move(resultHandler);
  _signatureReceiptHandler = std::move(signatureReceiptHandler);
  _currentState = KOVStateInit;
  _debugMode = debugMode;
  _debugLogHandler = std::move(debugLogHandler);
  _numberOfConsecutiveTimeouts = 0;
  _maxNumberOfOfConsecutiveTimeouts = kov::limits::kMaxConsecutiveTimeouts;
  _currentTimeoutInSeconds = kov::limits::kDefaultTimeoutSeconds;
  _inProgress = true;
  ++_generation;
  _pollInFlight.reset();
}

void WqKOV::refuseStart(KOVTransactionResultHandler resultHandler, KOVTransactionResult result,
                        std::optional<std::string> responseText) {
  if (!resultHandler) {
    return;
  }
  KOVTransactionResultDetails record = KOVTransactionResultDetails::initWithResult(result);
  record.responseText = std::move(responseText);
  // Delivered later, like every other result: the caller's start returns first.
  deliverLater([handler = std::move(resultHandler), record = std::move(record)]() mutable {
    handler(std::move(record));
  });
}

void WqKOV::deliverLater(std::function<void()> work) {
  if (_mainQueue) {
    _mainQueue->post(std::move(work));
  } else {
    work();
  }
}

void WqKOV::finishTransaction() {
  _inProgress = false;
  ++_generation;
  _pollInFlight.reset();
}
