// Posting documents, the polling loop's single request in flight, the session's life and
// the debug log with the merchant key masked.
#include <KOVModule/WqKOV.h>

#include <KOVModule/KOVXmlUtils.h>

#include <utility>

#include "core/WqKOVLimits.h"

std::string sanitizeXml(const std::string& xml) {
  static constexpr std::string_view kKeyAttribute = "key=\"";
  const std::size_t found = xml.find(kKeyAttribute);
  if (found == std::string::npos) {
    return xml;
  }
  const std::size_t keyStartPos = found + kKeyAttribute.size();
  const std::size_t closingQuote = xml.find('"', keyStartPos);
  if (closingQuote == std::string::npos) {
    return xml;
  }
  std::string masked;
  masked.reserve(xml.size() + 6);
  masked.append(xml, 0, keyStartPos);
  masked.append("......");
  masked.append(xml, closingQuote, std::string::npos);
  return masked;
}

KOVRequestId WqKOV::sendRequest(const std::string& postDataStr, ResponseHandler responseHandler,
                                float timeoutInterval) {
  if (_debugMode) {
    doDebugLog(KOVTransactionLogEntryRequestContent, textForLog(postDataStr));
  }
  if (!_currentSession && _sessionFactory) {
    _currentSession = _sessionFactory();
  }
  if (!_currentSession) {
    // Nothing to post through: the answer is a URL-layer failure like any other, so the
    // loop counts it and ends with the time-out result instead of hanging.
    KOVError error{NSURLErrorDomain, NSURLErrorUnsupportedURL, "No URL session is configured."};
    deliverLater([handler = std::move(responseHandler), error = std::move(error)] {
      handler(std::nullopt, std::nullopt, error);
    });
    return 0;
  }
  return _currentSession->post(endpointUrl(_isUAT), postDataStr, static_cast<double>(timeoutInterval),
                               std::move(responseHandler));
}

void WqKOV::releaseSession() {
  if (_currentSession) {
    // Taken out of the field first: a completion run from inside the cancel sees no session.
    std::unique_ptr<KOVURLSession> session = std::move(_currentSession);
    session->invalidateAndCancel();
  }
  _pollInFlight.reset();
}

void WqKOV::doDebugLog(KOVTransactionLogEntryType entryType, const std::string& logEntry) {
  if (_debugLogHandler) {
    _debugLogHandler(entryType, logEntry);
  }
}

std::string WqKOV::textForLog(const std::string& document) const {
  // Our own documents begin with the root's attributes in a known order, so the key's
  // value is found exactly where the writer put it, even when the user name holds text
  // that looks like a key attribute. Anything else is masked by text search.
  if (_currentTxnDetails) {
    std::string prefix = "<Scr action=\"doScrKOV\" user=\"";
    KOVXmlUtils::HtmlEncodeInto(_currentTxnDetails->userName.value_or(""), prefix);
    prefix += "\" key=\"";
    std::string value;
    KOVXmlUtils::HtmlEncodeInto(_currentTxnDetails->key.value_or(""), value);
    const std::size_t end = prefix.size() + value.size();
    if (document.size() > end && document.compare(0, prefix.size(), prefix) == 0 &&
        document.compare(prefix.size(), value.size(), value) == 0 && document[end] == '"') {
      return prefix + "......" + document.substr(end);
    }
  }
  return sanitizeXml(document);
}

void WqKOV::sendLoopRequest(const std::string& body, float timeoutInterval) {
  // One loop per transaction: the request in flight, if any, is superseded. Its answer is
  // dropped by the sequence check below, and the request is cancelled to free the line.
  if (_pollInFlight && _currentSession) {
    _currentSession->cancel(*_pollInFlight);
  }
  _pollInFlight.reset();
  const uint64_t generation = _generation;
  const uint64_t sequence = ++_pollSeq;
  const KOVRequestId id = sendRequest(
      body,
      [this, generation, sequence, alive = std::weak_ptr<const bool>(_alive)](
          const std::optional<std::string>& data, const std::optional<KOVURLResponse>& response,
          const std::optional<KOVError>& error) {
        if (alive.expired() || generation != _generation || sequence != _pollSeq) {
          return;  // an ended transaction's answer, or a superseded poll's
        }
        _pollInFlight.reset();
        processStatusResponse(data, error ? error : httpFailure(data, response));
      },
      timeoutInterval);
  if (id != 0 && sequence == _pollSeq && generation == _generation) {
    _pollInFlight = id;
  }
}

void WqKOV::sendStatusPoll() {
  sendLoopRequest(generateStatusRequest(), static_cast<float>(_currentTimeoutInSeconds));
}
