#pragma once
#include <string>

#include "SimScreen.h"

namespace kovsim {

/// Where a final answer marks the transaction complete.
enum class SimCompleteForm {
  Root,    ///< <Scr><Complete>1</Complete>...<Result>...</Result></Scr>
  Result,  ///< <Scr>...<Result><Complete>1</Complete>...</Result></Scr>
};

/// The final result for a request the service refuses (response code and its text).
SimResult serviceError(const std::string& responseCode, const std::string& responseText);

/// The answer that shows a running transaction's screen, with the poll time-out in seconds.
std::string screenDocument(const SimScreen& screen, int tmoSeconds);

/// The answer that ends a transaction.
std::string resultDocument(const SimResult& result, SimCompleteForm form);

/// The body of the "garbage" scenario: text that no XML parser accepts.
std::string garbageBody();

}  // namespace kovsim
