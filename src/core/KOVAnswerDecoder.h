#pragma once
// Reading one answer of the service: what it means for the transaction, decided without
// acting. The transaction run carries the decision out.
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVTransactionResultDetails.h>
#include <KOVModule/KOVURLSession.h>
#include <KOVModule/NSStringDictionary.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

/// What the terminal shows: the status change callback's arguments.
struct KOVScreen {
  KOVState state = KOVStateInit;
  std::optional<std::string> receipt;
  std::string firstLine;
  std::string secondLine;
  std::optional<std::string> button1;  ///< nullopt: not shown
  std::optional<std::string> button2;
};

/// Press a terminal button on the operator's behalf; the press carries the loop on.
struct KOVPressButton {
  std::string buttonId;
  std::string label;
  bool forCancel = false;  ///< the CANCEL of a cancel the host asked for (else a signature's YES)
};

/// Show the screen, then poll with the given time-out.
struct KOVShowScreen {
  KOVScreen screen;
  int32_t nextTimeoutSeconds = 0;
  /// The screen's CANCEL button, for a cancel the host asks for while it is shown.
  std::optional<KOVPressButton> cancelButton;
};

/// The transaction is complete with this result.
struct KOVFinish {
  KOVTransactionResultDetails result;
};

using KOVAnswerDecision = std::variant<KOVShowScreen, KOVPressButton, KOVFinish>;

/// A poll that got no usable answer: counted, and retried or ended with the time-out result.
struct KOVPollFailure {
  std::string reason;   ///< in plain words, as the host is told it
  std::string logText;  ///< the debug log's error entry: the reason, with the transport's code beside it
  /// The wait a 503 or 429 answer asked for with Retry-After, at most 30 s.
  std::optional<std::chrono::milliseconds> retryAfter;
};

/// Where a cancel the host asked for stands.
enum class KOVCancelState {
  None,     ///< not asked
  Pending,  ///< asked: CANCEL is pressed when a screen shows it
  Pressed,  ///< CANCEL was pressed; the transaction runs on to the service's answer
};

/// Pure functions from an answer to its meaning.
class KOVAnswerDecoder {
 public:
  /// A transport error as a failed poll: its description, and its domain and code for the log.
  static KOVPollFailure failureOf(const KOVError& error);
  /// Why a completion is a URL-layer failure (the transport's error, or an oversize body);
  /// nullopt when it is an answer.
  static std::optional<KOVPollFailure> transportFailure(const std::optional<std::string>& data,
                                                        const std::optional<KOVError>& error);
  /// Why an answer that holds no screen of the service (no key under "Scr/") counts as a
  /// URL-layer failure, whatever its HTTP status: "HTTP 404 without a screen", an error of
  /// another domain, or "An answer without a screen." when there is neither status nor
  /// error. nullopt for an answer with a screen.
  static std::optional<KOVPollFailure> screenlessFailure(const std::optional<KOVURLResponse>& response,
                                                         const std::optional<KOVError>& error,
                                                         const NSStringDictionary& answer);
  /// The decision for a parsed answer: the pending cancel's press, the signature's
  /// auto-answer (when skipSignature and no cancel was asked), the end, or the screen.
  static KOVAnswerDecision decide(std::shared_ptr<NSStringDictionary> answer, bool skipSignature,
                                  KOVCancelState cancel, int32_t currentTimeoutSeconds);

  /// The screen an unfinished answer shows.
  static KOVScreen screenOf(const NSStringDictionary& answer);
  /// The button to press for a signature step with an enabled "yes" button, if any.
  static std::optional<KOVPressButton> signatureAnswer(const NSStringDictionary& answer);
  /// The enabled button whose label reads CANCEL (compared as the signature's "yes"), if any.
  static std::optional<KOVPressButton> cancelButton(const NSStringDictionary& answer);
  /// The result record of a complete answer (which it keeps as its response).
  static KOVTransactionResultDetails resultOf(std::shared_ptr<NSStringDictionary> answer);
  /// Whether either completion flag holds exactly "1".
  static bool isComplete(const NSStringDictionary& answer);

  static int32_t intValue(const NSStringDictionary& answer, const std::string& path, int32_t defaultValue);
  static std::optional<std::string> strValue(const NSStringDictionary& answer, const std::string& path,
                                             const std::optional<std::string>& defaultValue);
  static KOVState stateOf(const std::string& stateLine, bool isCompleted);
  /// The text cut into lines of width UTF-16 units, each ended by CR LF; nullopt for none.
  static std::optional<std::string> segment(std::optional<std::string_view> text, int32_t width);
  static KOVTransactionResult resultOfCode(const std::string& reco);
};
