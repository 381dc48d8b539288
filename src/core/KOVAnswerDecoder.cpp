// From an answer's dictionary to one decision: which keys mean what, and nothing else.
#include "core/KOVAnswerDecoder.h"

#include <algorithm>
#include <array>
#include <string_view>
#include <utility>

#include "core/KOVResultText.h"
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

// The text under a key, read in place: a receipt is cut without copying it first.
std::optional<std::string_view> valueAt(const NSStringDictionary& answer, const std::string& path) {
  const auto found = answer.find(path);
  return found == answer.end() ? std::nullopt : std::optional<std::string_view>(found->second);
}

std::string text(const NSStringDictionary& answer, const std::string& path) {
  return KOVAnswerDecoder::strValue(answer, path, std::string()).value_or("");
}

std::optional<std::string> shownButton(const NSStringDictionary& answer, const std::string& key) {
  if (KOVAnswerDecoder::intValue(answer, key + "/__en", 0) == 0) {
    return std::nullopt;
  }
  return text(answer, key);
}

// The enabled button (its flag exactly 1) whose whole label equals the word in any case; a
// later qualifying button wins.
std::optional<KOVPressButton> buttonLabelled(const NSStringDictionary& answer, std::string_view word, bool forCancel) {
  std::optional<KOVPressButton> chosen;
  for (const char* name : {"B1", "B2"}) {
    const std::string key = std::string("Scr/") + name;
    std::string label = text(answer, key);
    if (KOVAnswerDecoder::intValue(answer, key + "/__en", 0) == 1 && kov::text::equalsIgnoreCase(label, word)) {
      chosen = KOVPressButton{name, std::move(label), forCancel};
    }
  }
  return chosen;
}

// Poll time-outs are always finite and positive.
int32_t boundedTimeout(int32_t seconds) {
  if (seconds <= 0) {
    return kov::limits::kDefaultTimeoutSeconds;
  }
  return std::min(seconds, kov::limits::kMaxTimeoutSeconds);
}

}  // namespace

KOVPollFailure KOVAnswerDecoder::failureOf(const KOVError& error) {
  // The transport's own words; a code alone only when it gave none. The log keeps the code.
  const std::string code = error.domain + " " + std::to_string(error.code);
  return error.description.empty() ? KOVPollFailure{code, code, std::nullopt}
                                   : KOVPollFailure{error.description, error.description + " (" + code + ")", std::nullopt};
}

std::optional<KOVPollFailure> KOVAnswerDecoder::transportFailure(const std::optional<std::string>& data,
                                                                 const std::optional<KOVError>& error) {
  if (error && error->domain == NSURLErrorDomain) {
    return failureOf(*error);
  }
  // A transport must cap bodies; one that did not is treated as if it had.
  if (data && data->size() > kov::kMaxResponseBytes) {
    const std::string reason = "the answer is larger than 1 MiB";
    return KOVPollFailure{reason, reason, std::nullopt};
  }
  return std::nullopt;
}

std::optional<KOVPollFailure> KOVAnswerDecoder::screenlessFailure(const std::optional<KOVURLResponse>& response,
                                                                  const std::optional<KOVError>& error,
                                                                  const NSStringDictionary& answer) {
  // An answer without a screen (a wrong path, a gateway's redirect, outage or maintenance
  // page, an empty body) says nothing about the transaction: it is retried and counted like
  // a lost connection, so it ends in the time-out result instead of an endless run of
  // immediate polls.
  const auto first = answer.lower_bound("Scr/");
  if (first != answer.end() && first->first.compare(0, 4, "Scr/") == 0) {
    return std::nullopt;
  }
  if (response) {
    const std::string reason = "HTTP " + std::to_string(response->statusCode) + " without a screen";
    KOVPollFailure failure{reason, reason, std::nullopt};
    // A service that is busy, or a gateway limiting the till, says how long to wait.
    if ((response->statusCode == 503 || response->statusCode == 429) && response->retryAfter) {
      failure.retryAfter = std::min<std::chrono::milliseconds>(*response->retryAfter, kov::limits::kMaxRetryAfter);
    }
    return failure;
  }
  if (error) {
    return failureOf(*error);
  }
  const std::string reason = "An answer without a screen.";
  return KOVPollFailure{reason, reason, std::nullopt};
}

KOVAnswerDecision KOVAnswerDecoder::decide(std::shared_ptr<NSStringDictionary> answer, bool skipSignature,
                                           KOVCancelState cancel, int32_t currentTimeoutSeconds) {
  std::optional<KOVPressButton> cancelPress = cancelButton(*answer);
  // A final answer is final: nothing is pressed after it.
  if (cancel == KOVCancelState::Pending && cancelPress && !isComplete(*answer)) {
    return *std::move(cancelPress);
  }
  // Once the operator asked to cancel, the engine never approves a signature on its behalf.
  if (skipSignature && cancel == KOVCancelState::None) {
    if (std::optional<KOVPressButton> press = signatureAnswer(*answer)) {
      return *std::move(press);
    }
  }
  if (isComplete(*answer)) {
    return KOVFinish{resultOf(std::move(answer))};
  }
  return KOVShowScreen{screenOf(*answer), boundedTimeout(intValue(*answer, "Scr/Tmo", currentTimeoutSeconds)),
                       std::move(cancelPress)};
}

KOVScreen KOVAnswerDecoder::screenOf(const NSStringDictionary& answer) {
  KOVScreen screen;
  screen.receipt = segment(valueAt(answer, "Scr/Rcpt"), intValue(answer, "Scr/RcptW", kov::limits::kDefaultReceiptWidth));
  screen.firstLine = text(answer, "Scr/DL1");
  screen.secondLine = text(answer, "Scr/DL2");
  screen.button1 = shownButton(answer, "Scr/B1");
  screen.button2 = shownButton(answer, "Scr/B2");
  screen.state = stateOf(screen.firstLine, false);
  return screen;
}

std::optional<KOVPressButton> KOVAnswerDecoder::signatureAnswer(const NSStringDictionary& answer) {
  if (stateOf(text(answer, "Scr/DL1"), false) != KOVStateSignatureRequired) {
    return std::nullopt;
  }
  return buttonLabelled(answer, "yes", false);
}

std::optional<KOVPressButton> KOVAnswerDecoder::cancelButton(const NSStringDictionary& answer) {
  return buttonLabelled(answer, "cancel", true);
}

KOVTransactionResultDetails KOVAnswerDecoder::resultOf(std::shared_ptr<NSStringDictionary> answer) {
  if (!answer) {
    answer = std::make_shared<NSStringDictionary>();
  }
  const NSStringDictionary& keys = *answer;
  // One buffer for every key: most result keys are too long for a string without an
  // allocation of its own. Values are read in place and copied only into the record.
  std::string key;
  key.reserve(32);
  const auto valueOf = [&keys, &key](std::string_view path) -> const std::string* {
    key.assign(path);
    const auto found = keys.find(key);
    return found == keys.end() ? nullptr : &found->second;
  };
  const std::string* widthText = valueOf("Scr/Result/RcptW");
  const int32_t width = widthText ? kov::text::intValue(*widthText) : kov::limits::kDefaultReceiptWidth;
  KOVTransactionResultDetails record;
  for (const KOVResultText& text : kKOVResultTexts) {
    const std::string* value = valueOf(text.key);
    if (text.cutIntoLines) {
      record.*text.field = segment(value ? std::optional<std::string_view>(*value) : std::nullopt, width);
    } else {
      record.*text.field = value ? *value : std::string();
    }
  }
  record.receiptLineWidth = width;
  const std::string* approval = valueOf("Scr/Result/AP");
  const bool approved = approval && kov::text::intValue(*approval) == 1;
  record.transactionResult = approved ? KOVTransactionResultSucceeded : resultOfCode(*record.reCo);
  record.response = std::move(answer);
  return record;
}

bool KOVAnswerDecoder::isComplete(const NSStringDictionary& answer) {
  for (const char* key : {"Scr/Complete", "Scr/Result/Complete"}) {
    const auto found = answer.find(key);
    if (found != answer.end() && found->second == "1") {
      return true;
    }
  }
  return false;
}

int32_t KOVAnswerDecoder::intValue(const NSStringDictionary& answer, const std::string& path, int32_t defaultValue) {
  const auto found = answer.find(path);
  return found == answer.end() ? defaultValue : kov::text::intValue(found->second);
}

std::optional<std::string> KOVAnswerDecoder::strValue(const NSStringDictionary& answer, const std::string& path,
                                                      const std::optional<std::string>& defaultValue) {
  const auto found = answer.find(path);
  return found == answer.end() ? defaultValue : std::optional<std::string>(found->second);
}

KOVState KOVAnswerDecoder::stateOf(const std::string& stateLine, bool isCompleted) {
  const std::string lowered = kov::text::lowercase(stateLine);
  return isCompleted ? firstWordIn(lowered, kCompletedWords) : firstWordIn(lowered, kPollingWords);
}

std::optional<std::string> KOVAnswerDecoder::segment(std::optional<std::string_view> text, int32_t width) {
  if (!text || text->empty()) {
    return std::nullopt;
  }
  const std::string_view whole = *text;
  if (width <= 0) {
    std::string line(whole);  // a width that cannot advance gives the whole text as one line
    line += "\r\n";
    return line;
  }
  const auto lineUnits = static_cast<std::size_t>(width);
  // Every line but the last holds at least width bytes (no character takes fewer bytes
  // than UTF-16 units), so this many lines is the most there can be; the lines are
  // written in place and the text is cut to what was written.
  const std::size_t maxLines = whole.size() / lineUnits + 1;
  std::string result(whole.size() + 2 * maxLines, '\0');
  char* out = result.data();
  std::size_t pos = 0;
  while (pos < whole.size()) {
    // Take code points until the line holds width UTF-16 units; a character outside the
    // basic plane that would be cut in half goes whole into this line. ASCII, nearly every
    // receipt character, is one byte and one unit, so its runs are taken without decoding.
    const std::size_t start = pos;
    std::size_t units = 0;
    while (pos < whole.size() && units < lineUnits) {
      const std::size_t ascii = kov::text::asciiPrefix(whole.substr(pos), lineUnits - units);
      pos += ascii;
      units += ascii;
      if (pos < whole.size() && units < lineUnits) {
        const kov::text::CodePointSpan span = kov::text::nextCodePoint(whole, pos);
        pos += span.bytes;
        units += static_cast<std::size_t>(span.utf16Units);
      }
    }
    whole.copy(out, pos - start, start);
    out += pos - start;
    *out++ = '\r';
    *out++ = '\n';
  }
  result.resize(static_cast<std::size_t>(out - result.data()));
  return result;
}

KOVTransactionResult KOVAnswerDecoder::resultOfCode(const std::string& reco) {
  const std::string lowered = kov::text::lowercase(reco);
  for (const ResponseCode& entry : kResponseCodes) {
    if (lowered == entry.code) {
      return entry.result;
    }
  }
  return KOVTransactionResultFailed;
}
