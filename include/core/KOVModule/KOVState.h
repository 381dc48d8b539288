#pragma once
#include <cstdint>

/// The terminal's screen state, derived from its first display line.
enum KOVState : uint32_t {
  KOVStateInit = 0,
  KOVStateAwaitingCardSwipe = 1,
  KOVStateAwaitingAccountSelection = 2,
  KOVStateAwaitingPINEntry = 3,
  KOVStateProcessing = 4,
  KOVStateSignatureRequired = 5,
  KOVStateAccepted = 6,
  KOVStateDeclined = 7,
  KOVStateCancelled = 8,
  KOVStateError = 9,
};
