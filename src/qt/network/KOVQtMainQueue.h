#pragma once
// Closures run later from the Qt event loop of the application's thread.
#include <functional>

namespace kovqt {

/// Queues work on the application's event loop, in the order posted, from any thread.
/// Without a QCoreApplication there is no loop that could ever run it, so it runs at once,
/// like the engine without a queue.
void runOnMainThread(std::function<void()> work);

}  // namespace kovqt
