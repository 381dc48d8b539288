#pragma once
// The engine behind KOVTransaction, for tests that drive the facade over a scripted network.

class WqKOV;

namespace kov::facade {

/// Runs later transactions on this engine instead of WqKOV::get() (nullptr: back to it).
/// When the engine has no session factory yet, the Qt transport is installed into it.
void setEngine(WqKOV* engine);

}  // namespace kov::facade
