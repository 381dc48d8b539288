#pragma once
// kov-bridge's command line (or the same settings from --config FILE).
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kovbridge {

/// Where to listen.
struct BridgeListen {
  std::string host = "127.0.0.1";
  int port = 8787;
};

/// The settings as given; files are read later.
struct BridgeOptions {
  bool help = false;
  bool printToken = false;
  std::optional<std::string> endpoint;
  BridgeListen listen;
  bool listenGiven = false;  ///< false: the default, 127.0.0.1 and ::1
  std::optional<std::string> user;
  std::optional<std::string> station;
  std::optional<std::string> keyFile;
  std::optional<std::string> tokenFile;
  std::optional<std::string> journal;
  std::vector<std::string> allowOrigins;
  std::vector<std::string> allowHosts;
  std::optional<std::string> serve;
  std::optional<std::string> caFile;
  std::optional<std::string> tlsCert;
  std::optional<std::string> tlsKey;
};

/// A usage error, said in one line.
struct BridgeUsageError {
  std::string message;
};

/// Parses the arguments after the program name; a --config file's settings are read as the
/// options of the same names (those on the command line win).
std::variant<BridgeOptions, BridgeUsageError> parseBridgeOptions(const std::vector<std::string>& args);

/// HOST:PORT, HOST an IPv4 address, a bracketed IPv6 one or localhost; nullopt when not.
std::optional<BridgeListen> parseListen(const std::string& text);

/// The --help text.
std::string bridgeUsage();

}  // namespace kovbridge
