#pragma once
#include <KOVModule/WqKOV.h>

#include <memory>

// Sets the engine's current transaction without starting one, for the document builders.
struct WqKOVTestPeer {
  static void setCurrent(WqKOV& engine, std::shared_ptr<KOVTransactionDetails> details, KOVTransactionType type) {
    engine._currentTxnDetails = std::move(details);
    engine._currentTxnType = type;
    engine._currentTxnTypeStr = WqKOV::txnTypeToStr(type);
  }
};
