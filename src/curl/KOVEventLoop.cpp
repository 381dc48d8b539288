#include <KOVModule/KOVEventLoop.h>

KOVEventLoop::~KOVEventLoop() = default;

void KOVEventLoop::forgetSocket(int fd) { unwatchSocket(fd); }

void KOVEventLoop::postAfter(std::chrono::milliseconds delay, std::function<void()> work) {
  startTimer(delay, std::move(work));
}
