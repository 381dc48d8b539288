#pragma once
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kovsim {

/// A button of the terminal's screen; a disabled button is still sent, with en="0".
struct SimButton {
  std::string label;
  bool enabled = false;
};

/// What the terminal shows while a transaction runs.
struct SimScreen {
  std::string line1;
  std::string line2;
  SimButton button1;
  SimButton button2;
  std::optional<std::string> receipt;
  int receiptWidth = 0;
};

/// The final answer of a transaction: its two display lines and the "Result" keys in the
/// order they are written (AP, RC, RT first).
struct SimResult {
  std::string line1;
  std::string line2;
  std::vector<std::pair<std::string, std::string>> fields;

  /// The value of a result key, or the empty text.
  std::string field(const std::string& key) const {
    for (const auto& [name, value] : fields) {
      if (name == key) {
        return value;
      }
    }
    return {};
  }
};

}  // namespace kovsim
