#include "TextToSpeechSpeaker.h"

#ifdef KOV_HAVE_TEXT_TO_SPEECH
#include <QTextToSpeech>
#endif

namespace kov {

#ifdef KOV_HAVE_TEXT_TO_SPEECH
namespace {

class QtSpeaker : public Speaker {
 public:
  explicit QtSpeaker(std::unique_ptr<QTextToSpeech> speech) : _speech(std::move(speech)) {}
  void say(const std::string& text) override { _speech->say(QString::fromStdString(text)); }

 private:
  std::unique_ptr<QTextToSpeech> _speech;
};

}  // namespace

std::unique_ptr<Speaker> TextToSpeechSpeaker::create(std::string* why) {
  if (QTextToSpeech::availableEngines().isEmpty()) {
    if (why) *why = "no speech engine is installed";
    return nullptr;
  }
  auto speech = std::make_unique<QTextToSpeech>();
  if (speech->state() == QTextToSpeech::Error) {
    if (why) *why = "the speech engine did not start";
    return nullptr;
  }
  return std::make_unique<QtSpeaker>(std::move(speech));
}
#else
std::unique_ptr<Speaker> TextToSpeechSpeaker::create(std::string* why) {
  if (why) *why = "this build has no speech support (Qt TextToSpeech)";
  return nullptr;
}
#endif

}  // namespace kov
