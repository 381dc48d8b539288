#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kovsim {

/// What the simulated terminal does in one transaction.
enum class SimTerminal {
  Approve,         ///< card, account, PIN, processing, approved
  Decline,         ///< the same screens, then declined by the issuer
  Cancel,          ///< the cardholder cancels on the terminal while it asks for the card
  LateCancel,      ///< as Approve, but the card is already authorised when CANCEL is pressed: ignored
  Signature,       ///< after processing, a signature check answered with YES or NO
  ResultComplete,  ///< approved; the final answer marks completion under Result instead of the root
};

/// A fault the simulated service plays on purpose.
enum class SimFault {
  None,
  // The client gets no usable answer: a URL-layer failure.
  Close,      ///< the connection is closed without an answer
  Reset,      ///< the connection is reset (RST) without an answer
  ResetBody,  ///< a chunked answer reset in the middle of its body
  Cut,        ///< an answer cut short of its Content-Length, then reset
  Stall,      ///< no answer until 2 s past the client's time-out
  Trickle,    ///< the answer in ten pieces spread over twice the client's time-out
  Refuse,     ///< the connection is closed and the simulator stops listening for good
  Http404,    ///< HTTP 404 with an empty body
  Http502,    ///< HTTP 502 with a gateway's HTML page
  Http307,    ///< HTTP 307 to another path with an empty body: a redirect not to be followed
  Http301,    ///< HTTP 301 to another path with an empty body, as a gateway that moved the service
  Http302,    ///< HTTP 302 to another path with an empty body
  Http204,    ///< HTTP 204, no body
  Maintenance,  ///< HTTP 200 with a gateway's maintenance page: HTML, no screen
  Oversize,   ///< a chunked screen answer of 2 MiB, over the client's 1 MiB cap
  OversizeLength,  ///< a 200 announcing 1 MiB + 1 byte, none of it sent, the line held as a stall
  OversizeOpen,    ///< a 200 without a length, 1 MiB + 1 byte of it, the line held as a stall
  Http2Only,       ///< an HTTP/2 server's SETTINGS frame and GOAWAY instead of HTTP/1.1, then closed
  HugeHeader,      ///< the usual answer with a header line of 150 KiB
  DoubleLength,    ///< the usual answer with its Content-Length and a second, 10 bytes longer
  Http503,         ///< HTTP 503 with an empty body and "Retry-After: 1"
  // Broken answers: the client reads them as answers.
  Http500,    ///< HTTP 500 with the usual screen or result
  Garbage,    ///< a body that is not XML
  Truncated,  ///< a screen document that breaks off in the middle of a line
  Empty,      ///< an empty body
  BadUtf8,    ///< a screen whose first line holds bytes that are not UTF-8
  Deep,       ///< a screen nested 100,000 elements deep after its first line
  Doctype,    ///< a document type declaring nested entities and an external file
  OddTmo,     ///< the usual screens with poll time-outs of 0, -5, 99999999999 and "soon"
  AtCap,      ///< a screen of exactly 1 MiB, the client's cap, with its Content-Length
};

/// How one transaction plays: its terminal, and a fault that meets some of its requests.
/// The requests of a transaction are numbered as they arrive: 0 is the transaction request,
/// then every status and button request.
struct SimScenario {
  SimTerminal terminal = SimTerminal::Approve;
  SimFault fault = SimFault::None;
  bool fromFirstRequest = false;  ///< the fault starts at request 0; otherwise at request 1
  int run = 0;                    ///< faulted requests in a row before one is served; 0: all

  /// True when request number n meets the fault.
  bool hits(std::uint64_t n) const;
  bool operator==(const SimScenario&) const = default;
};

/// The longest run a name may give.
inline constexpr int kMaxFaultRun = 1000;

/// True for the faults that leave the client without a usable answer.
bool isFailure(SimFault fault);

/// The fault's name ("reset-body"); "none" for SimFault::None.
std::string_view faultName(SimFault fault);

/// The scenario's name as written on the command line and in "sim:NAME": a terminal name
/// ("approve"), or a fault name with its suffixes ("reset", "close-first", "reset-8").
std::string scenarioName(const SimScenario& scenario);

/// The scenario of a name; nullopt for a name that is none of them.
std::optional<SimScenario> scenarioFromName(std::string_view name);

/// The names for usage and error texts.
std::string scenarioNames();

/// The scenario a transaction request asks for through its merchant reference
/// ("sim:NAME"); nullopt when the reference does not start with "sim:".
/// An unknown name after the prefix is reported through unknownName.
std::optional<SimScenario> scenarioFromMerchantRef(std::string_view merchantRef, bool& unknownName);

}  // namespace kovsim
