#pragma once
#include <KOVModule/KOVURLSession.h>

#include <functional>

#include "CliOptions.h"

namespace kovcli {

/// Points a test host acts at, which no option reaches: the program itself sets none.
struct CliRunHooks {
  /// Wraps the transport's sessions (to see each request just before it is handed over).
  std::function<KOVURLSessionFactory(KOVURLSessionFactory)> wrapSessions;
  /// Runs when the result is in, before its line is written.
  std::function<void()> beforeResultLine;
};

/// Runs the transaction of the options on the library's own event loop and returns the
/// exit status: 0 approved, 1 any other result, 2 for a refused record, reference, CA file or
/// journal (nothing sent), 3 when the result could not be written to stdout. A "cancel" line
/// on stdin, or the first SIGINT (which the caller has blocked, see blockInterrupts), asks
/// the terminal to cancel; a second SIGINT ends the program.
int runTransaction(const CliOptions& options, const CliRunHooks& hooks = {});

/// Blocks SIGINT for the process, so that runTransaction reads it as a cancel; call it before
/// any thread starts.
void blockInterrupts();

/// Removes a reference from the journal; 0, or 2 when it is not there or cannot be written.
int forgetEntry(const CliOptions& options);

/// Prints the journal's unfinished transactions, one JSON line each; 0, 2 when the journal
/// cannot be used, 3 when the list could not be written to stdout.
int listPending(const CliOptions& options);

}  // namespace kovcli
