// Every answer of a transaction arrives here and takes one of four roads: a URL-layer
// failure (retry or give up), the signature auto-answer, the end, or a screen update
// followed by the next poll.
#include <KOVModule/WqKOV.h>

#include <KOVModule/KOVXmlUtils.h>

#include <algorithm>
#include <utility>

#include "core/WqKOVLimits.h"
#include "util/KOVText.h"

namespace {

bool isComplete(const NSStringDictionary& response) {
  for (const char* key : {"Scr/Complete", "Scr/Result/Complete"}) {
    const auto found = response.find(key);
    if (found != response.end() && found->second == "1") {
      return true;
    }
  }
  return false;
}

bool isUrlLayerFailure(const std::optional<std::string>& data, const std::optional<KOVError>& error) {
  if (error && error->domain == NSURLErrorDomain) {
    return true;
  }
  // A transport must cap bodies; one that did not is treated as if it had.
  return data && data->size() > kKOVMaxResponseBytes;
}

bool holdsScreen(const NSStringDictionary& response) {
  const auto first = response.lower_bound("Scr/");
  return first != response.end() && first->first.compare(0, 4, "Scr/") == 0;
}

// What the debug log says about a URL-layer failure: the transport's description and code,
// or the HTTP status of an error page. Descriptions never hold the request.
std::string failureReason(const std::optional<KOVError>& error) {
  if (!error) {
    return "The answer is larger than " + std::to_string(kKOVMaxResponseBytes) + " bytes.";
  }
  if (error->code == NSURLErrorBadServerResponse && error->description.rfind("HTTP ", 0) == 0) {
    return error->description;
  }
  return error->description + " (" + error->domain + " " + std::to_string(error->code) + ")";
}

// Poll time-outs are always finite and positive.
int32_t boundedTimeout(int32_t seconds) {
  if (seconds <= 0) {
    return kov::limits::kDefaultTimeoutSeconds;
  }
  return std::min(seconds, kov::limits::kMaxTimeoutSeconds);
}

}  // namespace

int32_t WqKOV::getIntValue(const NSStringDictionary& dictionary, const std::string& path, int32_t defaultValue) {
  const auto found = dictionary.find(path);
  return found == dictionary.end() ? defaultValue : kov::text::intValue(found->second);
}

std::optional<std::string> WqKOV::getStrValue(const NSStringDictionary& dictionary, const std::string& path,
                                              const std::optional<std::string>& defaultValue) {
  const auto found = dictionary.find(path);
  return found == dictionary.end() ? defaultValue : std::optional<std::string>(found->second);
}

std::optional<KOVError> WqKOV::httpFailure(const std::optional<std::string>& responseData,
                                           const std::optional<KOVURLResponse>& response) {
  // An error page without a screen (a wrong path, a gateway's outage page) says nothing
  // about the transaction: it is retried and counted like a lost connection, so it ends
  // in the time-out result instead of an endless run of immediate polls.
  if (!response || response->statusCode < 400) {
    return std::nullopt;
  }
  NSStringDictionary parsed;
  KOVXmlUtils::ParseXML(responseData.value_or(std::string()), parsed);
  if (holdsScreen(parsed)) {
    return std::nullopt;
  }
  return KOVError{NSURLErrorDomain, NSURLErrorBadServerResponse, "HTTP " + std::to_string(response->statusCode)};
}

void WqKOV::processStatusResponse(const std::optional<std::string>& responseData,
                                  const std::optional<KOVError>& error) {
  if (!_inProgress) {
    return;  // nothing is sent for a transaction that has ended
  }
  if (isUrlLayerFailure(responseData, error)) {
    ++_numberOfConsecutiveTimeouts;
    if (_debugMode) {
      doDebugLog(KOVTransactionLogEntryError, failureReason(error));
      doDebugLog(KOVTransactionLogEntryInfo,
                 "KOV Timeout. Starting attempt " + std::to_string(_numberOfConsecutiveTimeouts));
    }
    if (_numberOfConsecutiveTimeouts <= _maxNumberOfOfConsecutiveTimeouts) {
      sendStatusPoll();
      return;
    }
    if (_debugMode) {
      doDebugLog(KOVTransactionLogEntryInfo, "KOV Timeout. Out of attempts. Triggering result.");
    }
    deliverTimeoutResult();
    return;
  }

  const std::string& body = responseData ? *responseData : std::string();
  if (_debugMode) {
    doDebugLog(KOVTransactionLogEntryResponseContent, kov::text::validUtf8(body));
  }
  _numberOfConsecutiveTimeouts = 0;
  auto response = std::make_shared<NSStringDictionary>();
  // The flag is not looked at: a broken answer still gives the keys read before the fault.
  KOVXmlUtils::ParseXML(body, *response);

  const uint64_t generation = _generation;
  if (_currentTxnDetails && _currentTxnDetails->skipSignatureVerification &&
      skipSignatureVerification(*response)) {
    return;  // the button request's completion polls next
  }
  if (isComplete(*response)) {
    finishTransaction();
    releaseSession();
    _currentState = KOVStateInit;
    processTransactionEnd(std::move(response));
    return;
  }
  triggerStatusUpdate(*response);
  if (generation != _generation || !_inProgress) {
    return;  // a callback ended or replaced the transaction
  }
  _currentTimeoutInSeconds =
      boundedTimeout(getIntValue(*response, "Scr/Tmo", _currentTimeoutInSeconds));
  sendStatusPoll();
}

void WqKOV::deliverTimeoutResult() {
  // The transaction is over before its handler runs; the session stays open for reuse.
  KOVTransactionResultHandler handler = std::exchange(_resultHandler, nullptr);
  finishTransaction();
  if (handler) {
    handler(KOVTransactionResultDetails::initWithResult(KOVTransactionResultTimeout));
  }
}
