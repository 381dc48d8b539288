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
/// exit status: 0 approved, 1 any other result, 2 for a refused CA file or journal, 3 when
/// the result could not be written to stdout.
int runTransaction(const CliOptions& options, const CliRunHooks& hooks = {});

/// Prints the journal's unfinished transactions, one JSON line each; 0, or 2 when the
/// journal cannot be used.
int listPending(const CliOptions& options);

}  // namespace kovcli
