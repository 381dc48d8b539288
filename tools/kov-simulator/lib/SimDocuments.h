#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "SimScenario.h"
#include "SimScreen.h"

namespace kovsim {

/// Where a final answer marks the transaction complete.
enum class SimCompleteForm {
  Root,    ///< <Scr><Complete>1</Complete>...<Result>...</Result></Scr>
  Result,  ///< <Scr>...<Result><Complete>1</Complete>...</Result></Scr>
};

/// The final result for a request the service refuses (response code and its text).
SimResult serviceError(const std::string& responseCode, const std::string& responseText);

/// The answer that shows a running transaction's screen, with the poll time-out (whole
/// seconds, or whatever text a fault puts there).
std::string screenDocument(const SimScreen& screen, const std::string& tmo);

/// The poll time-out the OddTmo fault sends with the screen of the given version: 0, -5,
/// 99999999999 and "soon" in turn.
std::string oddTimeOut(std::uint64_t screenVersion);

/// The answer that ends a transaction.
std::string resultDocument(const SimResult& result, SimCompleteForm form);

/// A client's cap on the body of an answer (the library's 1 MiB).
inline constexpr std::size_t kClientCapBytes = 1024 * 1024;

/// The body a broken-answer fault sends instead of a screen (Garbage, Truncated, Empty,
/// BadUtf8, Deep, Doctype, AtCap: a screen of exactly kClientCapBytes). Past their fault, the documents that could be read on end the
/// transaction as declined, so a client that reads beyond the fault ends with the wrong result.
std::string brokenBody(SimFault fault);

/// The Oversize fault's screen, whose first line is 2 MiB of "X": the piece (at most 64 KiB)
/// that starts at offset, empty past its end. Sent piece by piece, it is never held whole.
std::string_view oversizePiece(std::size_t offset);

/// The HTML page of a gateway that got no answer from the service (the Http502 fault).
std::string gatewayPage();
/// The HTML page a gateway shows, with status 200, while the service is down for
/// maintenance (the Maintenance fault).
std::string maintenancePage();

}  // namespace kovsim
