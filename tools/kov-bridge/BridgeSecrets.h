#pragma once
// The merchant key, the page's token and the folder the bridge keeps its state in.
#include <optional>
#include <string>
#include <variant>

namespace kovbridge {

/// Why a secret or the state folder cannot be had, said in one line (without the secret).
struct BridgeSecretError {
  std::string message;
};

/// The merchant key: the first line of keyFile when given, else the environment's KOV_KEY,
/// else the systemd credential kov-key ($CREDENTIALS_DIRECTORY/kov-key). Never an argument.
std::variant<std::string, BridgeSecretError> readKey(const std::optional<std::string>& keyFile);

/// The token of path; a missing file is created first with 32 random bytes of the system's,
/// in hex (mode 0600, never over a file that appeared meanwhile; made by root in a folder of
/// another user's, it is that user's). A file that its group or others may read or write is
/// refused.
std::variant<std::string, BridgeSecretError> loadToken(const std::string& path);

/// $STATE_DIRECTORY (its first folder), else ${XDG_STATE_HOME:-$HOME/.local/state}/kov-bridge,
/// created with mode 0700 when missing.
std::variant<std::string, BridgeSecretError> stateDirectory();

}  // namespace kovbridge
