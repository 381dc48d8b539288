#include <KOVModule/KOVEventLoop.h>

KOVEventLoop::~KOVEventLoop() = default;
