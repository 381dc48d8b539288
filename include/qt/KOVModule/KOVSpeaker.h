#pragma once
#include <KOVModule/KOVExport.h>
#include <string>

namespace kov {

/// Says a text aloud for the spoken status screen (KOVTransaction::setSpokenScreen). The
/// library's own speaks through Qt TextToSpeech; a host or a test may give its own.
class KOV_QT_EXPORT Speaker {
 public:
  virtual ~Speaker() = default;
  /// Says text, cutting off whatever this speaker is saying.
  virtual void say(const std::string& text) = 0;
};

}  // namespace kov
