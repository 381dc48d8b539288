// The terminal's screen: its state word, lines, buttons and receipt, button presses and
// the signature step answered on the operator's behalf.
#include <KOVModule/WqKOV.h>

#include <array>
#include <string_view>
#include <utility>

#include "core/WqKOVLimits.h"
#include "util/KOVText.h"

namespace {

struct StateWord {
  std::string_view word;
  KOVState state;
};

constexpr std::array<StateWord, 5> kPollingWords{{{"insert", KOVStateAwaitingCardSwipe},
                                                  {"account", KOVStateAwaitingAccountSelection},
                                                  {"pin", KOVStateAwaitingPINEntry},
                                                  {"processing", KOVStateProcessing},
                                                  {"signature", KOVStateSignatureRequired}}};

constexpr std::array<StateWord, 3> kCompletedWords{
    {{"accepted", KOVStateAccepted}, {"declined", KOVStateDeclined}, {"cancel", KOVStateCancelled}}};

template <std::size_t N>
KOVState firstWordIn(const std::string& lowered, const std::array<StateWord, N>& words) {
  for (const StateWord& entry : words) {
    if (lowered.find(entry.word) != std::string::npos) {
      return entry.state;
    }
  }
  return KOVStateError;
}

std::optional<std::string> shownButton(const NSStringDictionary& response, const std::string& key) {
  if (WqKOV::getIntValue(response, key + "/__en", 0) == 0) {
    return std::nullopt;
  }
  return WqKOV::getStrValue(response, key, std::string());
}

}  // namespace

KOVState WqKOV::stateLineToState(const std::string& stateLine, bool isCompleted) {
  const std::string lowered = kov::text::lowercase(stateLine);
  return isCompleted ? firstWordIn(lowered, kCompletedWords) : firstWordIn(lowered, kPollingWords);
}

std::optional<std::string> WqKOV::segmentString(const std::optional<std::string>& string, int32_t segmentWidth) {
  if (!string || string->empty()) {
    return std::nullopt;
  }
  const std::string& text = *string;
  if (segmentWidth <= 0) {
    return text + "\r\n";  // a width that cannot advance gives the whole text as one line
  }
  std::string result;
  result.reserve(text.size() + 2 * (text.size() / static_cast<std::size_t>(segmentWidth) + 1));
  std::size_t pos = 0;
  while (pos < text.size()) {
    // Take code points until the line holds segmentWidth UTF-16 units; a character
    // outside the basic plane that would be cut in half goes whole into this line.
    const std::size_t start = pos;
    int32_t units = 0;
    while (pos < text.size() && units < segmentWidth) {
      if (static_cast<unsigned char>(text[pos]) < 0x80) {
        ++pos;  // ASCII, nearly every receipt character: one byte, one unit
        ++units;
        continue;
      }
      const kov::text::CodePointSpan span = kov::text::nextCodePoint(text, pos);
      pos += span.bytes;
      units += span.utf16Units;
    }
    result.append(text, start, pos - start);
    result.append("\r\n");
  }
  return result;
}

void WqKOV::triggerStatusUpdate(const NSStringDictionary& response) {
  if (!_statusChangeHandler) {
    return;
  }
  const std::optional<std::string> receipt =
      segmentString(getStrValue(response, "Scr/Rcpt", std::string()),
                    getIntValue(response, "Scr/RcptW", kov::limits::kDefaultReceiptWidth));
  const std::string firstLine = getStrValue(response, "Scr/DL1", std::string()).value_or("");
  const std::string secondLine = getStrValue(response, "Scr/DL2", std::string()).value_or("");
  const std::optional<std::string> button1 = shownButton(response, "Scr/B1");
  const std::optional<std::string> button2 = shownButton(response, "Scr/B2");
  const KOVState state = stateLineToState(firstLine, false);

  // Copies: the callback may start or end a transaction and so replace the handlers.
  StatusChangeHandler statusChangeHandler = _statusChangeHandler;
  statusChangeHandler(state, receipt, firstLine, secondLine, button1, button2);
  if (state != _currentState) {
    _currentState = state;
    if (state == KOVStateSignatureRequired && _signatureReceiptHandler) {
      KOVTransactionSignatureReceiptHandler signatureReceiptHandler = _signatureReceiptHandler;
      signatureReceiptHandler(receipt);
    }
  }
}

void WqKOV::sendButtonRequest(const std::string& buttonId, const std::optional<std::string>& buttonValue) {
  if (!_inProgress) {
    return;  // a press after the end sends nothing
  }
  const uint64_t generation = _generation;
  sendRequest(
      generateButtonRequest(buttonId, buttonValue),
      [this, generation, alive = std::weak_ptr<const bool>(_alive)](
          const std::optional<std::string>&, const std::optional<KOVURLResponse>&, const std::optional<KOVError>&) {
        // Whatever the outcome, one status poll follows; it supersedes the poll in flight.
        if (!alive.expired() && generation == _generation && _inProgress) {
          sendStatusPoll();
        }
      },
      kov::limits::kButtonTimeoutSeconds);
}

bool WqKOV::skipSignatureVerification(const NSStringDictionary& result) {
  const std::string firstLine = getStrValue(result, "Scr/DL1", std::string()).value_or("");
  if (stateLineToState(firstLine, false) != KOVStateSignatureRequired) {
    return false;
  }
  std::optional<std::pair<std::string, std::string>> chosen;
  for (const char* name : {"B1", "B2"}) {
    const std::string key = std::string("Scr/") + name;
    const std::string label = getStrValue(result, key, std::string()).value_or("");
    if (getIntValue(result, key + "/__en", 0) == 1 && kov::text::equalsIgnoreCase(label, "yes")) {
      chosen.emplace(name, label);  // a later qualifying button replaces an earlier one
    }
  }
  if (!chosen) {
    return false;
  }
  sendButtonRequest(chosen->first, chosen->second);
  return true;
}
