#include "BridgeSecrets.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace kovbridge {
namespace {

// A key or token file is a line; more than this is some other file.
constexpr std::size_t kMaxSecretBytes = 4096;

std::string systemError() { return std::strerror(errno); }

// The first line of a file, without a UTF-8 byte order mark or the line's end.
std::variant<std::string, BridgeSecretError> firstLine(int fd, const std::string& what) {
  std::string content(kMaxSecretBytes + 1, '\0');
  std::size_t size = 0;
  ssize_t n = 0;
  while (size < content.size() &&
         ((n = ::read(fd, content.data() + size, content.size() - size)) > 0 || (n < 0 && errno == EINTR))) {
    size += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  const int readError = n < 0 ? errno : 0;
  ::close(fd);
  if (readError != 0) return BridgeSecretError{what + ": cannot read: " + std::strerror(readError)};
  if (size > kMaxSecretBytes) return BridgeSecretError{what + " is too large (over 4 KiB)"};
  content.resize(size);
  std::string_view line(content);
  if (line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);
  line = line.substr(0, line.find('\n'));
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) return BridgeSecretError{what + " holds nothing on its first line"};
  return std::string(line);
}

std::variant<std::string, BridgeSecretError> readFile(const std::string& path, const std::string& what) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return BridgeSecretError{what + ": cannot read: " + systemError()};
  return firstLine(fd, what);
}

// A token made by root (an installer's --print-token before the service's first start) in a
// folder of another user's, the service's state folder, is that user's: the bridge, run as it,
// could not read a file of root's mode 0600. Anywhere else the file stays its maker's.
bool ownedAsItsFolder(int fd, const std::string& path) {
  if (::geteuid() != 0) return true;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  struct stat status{};
  if (::stat(folder.c_str(), &status) != 0) return false;
  return status.st_uid == 0 || ::fchown(fd, status.st_uid, status.st_gid) == 0;
}

bool makeFolder(const std::string& path) {
  // Its parents as a user's own would be; the last one the bridge's alone.
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), 0755);
  }
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

std::variant<std::string, BridgeSecretError> readKey(const std::optional<std::string>& keyFile) {
  if (keyFile) return readFile(*keyFile, "--key-file " + *keyFile);
  if (const char* variable = std::getenv("KOV_KEY"); variable && *variable) return std::string(variable);
  if (const char* credentials = std::getenv("CREDENTIALS_DIRECTORY"); credentials && *credentials) {
    return readFile(std::string(credentials) + "/kov-key", "the credential kov-key");
  }
  return BridgeSecretError{"the merchant key is needed: --key-file PATH, KOV_KEY or the systemd credential kov-key"};
}

std::variant<std::string, BridgeSecretError> loadToken(const std::string& path) {
  const std::string what = "--token-file " + path;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0 && errno == ENOENT) {
    std::array<unsigned char, 32> random{};
    if (::getrandom(random.data(), random.size(), 0) != static_cast<ssize_t>(random.size())) {
      return BridgeSecretError{"no random bytes for a new token: " + systemError()};
    }
    std::string token;
    for (const unsigned char byte : random) {
      char hex[3];
      std::snprintf(hex, sizeof hex, "%02x", byte);
      token += hex;
    }
    const int created = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (created < 0) return BridgeSecretError{what + ": cannot create: " + systemError()};
    const std::string line = token + "\n";
    const bool written = ownedAsItsFolder(created, path) &&
                         ::write(created, line.data(), line.size()) == static_cast<ssize_t>(line.size()) &&
                         ::fsync(created) == 0;
    ::close(created);
    if (!written) {
      ::unlink(path.c_str());
      return BridgeSecretError{what + ": cannot write: " + systemError()};
    }
    return token;
  }
  if (fd < 0) return BridgeSecretError{what + ": cannot read: " + systemError()};
  struct stat status{};
  if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    ::close(fd);
    return BridgeSecretError{what + " is not a regular file"};
  }
  if ((status.st_mode & 077) != 0) {
    ::close(fd);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return BridgeSecretError{what + " may be read or written by others (mode " + mode + "): chmod 600 it"};
  }
  return firstLine(fd, what);
}

std::variant<std::string, BridgeSecretError> stateDirectory() {
  std::string folder;
  if (const char* state = std::getenv("STATE_DIRECTORY"); state && *state) {
    folder = std::string(state).substr(0, std::string(state).find(':'));
  } else if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg && *xdg) {
    folder = std::string(xdg) + "/kov-bridge";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    folder = std::string(home) + "/.local/state/kov-bridge";
  } else {
    return BridgeSecretError{"no state folder: set STATE_DIRECTORY or HOME, or give --journal and --token-file"};
  }
  if (!makeFolder(folder)) return BridgeSecretError{"cannot create the state folder " + folder + ": " + systemError()};
  return folder;
}

}  // namespace kovbridge
