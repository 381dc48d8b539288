#pragma once
#include <optional>
#include <string>

#include <KOVModule/KOVState.h>

namespace kov {

/// What the status screen tells assistive technology and the speaker about a terminal screen:
/// the two lines and the buttons, in reading order, once per screen that differs from the one
/// before (an unchanged poll says nothing).
class ScreenAnnouncement {
 public:
  /// The text of a screen: each non-empty line, then "Buttons: " and the titles shown.
  static std::string text(const std::string& firstLine, const std::string& secondLine,
                          const std::optional<std::string>& button1, const std::optional<std::string>& button2);
  /// The text to announce for a screen, or nullopt when it says what the last one said.
  static std::optional<std::string> next(const std::optional<std::string>& last, const std::string& screen);
};

}  // namespace kov
