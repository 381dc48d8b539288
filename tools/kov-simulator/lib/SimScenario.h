#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kovsim {

/// How the simulated terminal and service behave for one transaction.
enum class SimScenario {
  Approve,         ///< card, account, PIN, processing, approved
  Decline,         ///< the same screens, then declined by the issuer
  Cancel,          ///< the cardholder cancels on the terminal while it asks for the card
  Signature,       ///< after processing, a signature check answered with YES or NO
  Drop,            ///< every request of the transaction has its connection closed unanswered
  Stall,           ///< every status answer is held past the client's time-out
  Http500,         ///< every answer is sent with HTTP status 500, its body unchanged
  Garbage,         ///< every screen answer is a 200 whose body is not XML
  Empty,           ///< every screen answer is a 200 with an empty body
  ResultComplete,  ///< the final answer marks completion under Result instead of the root
};

/// The scenario's name as written on the command line and in "sim:NAME".
std::string_view scenarioName(SimScenario scenario);

/// The scenario of a name; nullopt for a name that is none of them.
std::optional<SimScenario> scenarioFromName(std::string_view name);

/// All names, separated by ", " (for usage and error texts).
std::string scenarioNames();

/// The scenario a transaction request asks for through its merchant reference
/// ("sim:NAME"); nullopt when the reference does not start with "sim:".
/// An unknown name after the prefix is reported through unknownName.
std::optional<SimScenario> scenarioFromMerchantRef(std::string_view merchantRef, bool& unknownName);

}  // namespace kovsim
