#pragma once
// The engine behind KOVTransaction, for tests that drive the facade over a scripted network.

#include <memory>

class WqKOV;
namespace kov {
class Speaker;
}

namespace kov::facade {

/// Runs later transactions on this engine instead of WqKOV::get() (nullptr: back to it).
/// When the engine has no session factory yet, the Qt transport is installed into it.
void setEngine(WqKOV* engine);
/// Speaks spoken screens through this speaker instead of the system's (nullptr: back to it).
void setSpeaker(std::shared_ptr<kov::Speaker> speaker);

}  // namespace kov::facade
