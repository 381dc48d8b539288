#pragma once
#include "CliOptions.h"

namespace kovcli {

/// Runs the transaction of the options on the library's own event loop and returns the
/// exit status: 0 approved, 1 any other result, 2 for a refused CA file, 3 when the result
/// could not be written to stdout.
int runTransaction(const CliOptions& options);

}  // namespace kovcli
