#pragma once
// The engine's main queue over the Qt event loop.
#include <KOVModule/KOVURLSession.h>

#include <functional>

namespace kovqt {

/// Runs closures from the event loop of the application's thread, in the order posted,
/// never from inside post(). May be posted to from any thread.
class MainQueue final : public KOVMainQueue {
 public:
  void post(std::function<void()> work) override;
};

/// Queues work on the application's event loop. Without a QCoreApplication there is no
/// loop that could ever run it, so it runs at once, like the engine without a queue.
void runOnMainThread(std::function<void()> work);

}  // namespace kovqt
