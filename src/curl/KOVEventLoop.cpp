#include <KOVModule/KOVEventLoop.h>

KOVEventLoop::~KOVEventLoop() = default;

void KOVEventLoop::forgetSocket(int fd) { unwatchSocket(fd); }
