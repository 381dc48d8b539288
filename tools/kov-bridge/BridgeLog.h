#pragma once
// The bridge's log: one line each on stderr (the journal of systemd takes it from there).
// Callers never pass a body, the key or the token.
#include <cstdio>
#include <string>

namespace kovbridge {

inline void logLine(const std::string& line) {
  std::fprintf(stderr, "kov-bridge: %s\n", line.c_str());
  std::fflush(stderr);
}

}  // namespace kovbridge
