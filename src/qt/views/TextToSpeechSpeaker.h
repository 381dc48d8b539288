#pragma once
#include <memory>
#include <string>

#include <KOVModule/KOVSpeaker.h>

namespace kov {

/// The spoken screen's voice: Qt TextToSpeech on the system's speech engine (speech-dispatcher
/// on Linux). Speech is optional at build time, and a machine may have no engine.
class TextToSpeechSpeaker {
 public:
  /// A speaker on the default engine, or nullptr and why when there is none (a build without
  /// Qt TextToSpeech, no engine installed, or an engine that fails to start).
  static std::unique_ptr<Speaker> create(std::string* why);
};

}  // namespace kov
