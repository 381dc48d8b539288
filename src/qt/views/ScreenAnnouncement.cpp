#include "ScreenAnnouncement.h"

#include <vector>

namespace kov {

std::string ScreenAnnouncement::text(const std::string& firstLine, const std::string& secondLine,
                                     const std::optional<std::string>& button1,
                                     const std::optional<std::string>& button2) {
  std::string text;
  auto add = [&text](const std::string& part) {
    if (part.empty()) return;
    if (!text.empty()) text += '\n';
    text += part;
  };
  add(firstLine);
  add(secondLine);
  std::string buttons;
  for (const auto& title : {button1, button2}) {
    if (!title) continue;
    buttons += (buttons.empty() ? "Buttons: " : ", ") + *title;
  }
  add(buttons);
  return text;
}

std::optional<std::string> ScreenAnnouncement::next(const std::optional<std::string>& last, const std::string& screen) {
  if (last == screen || screen.empty()) return std::nullopt;
  return screen;
}

}  // namespace kov
