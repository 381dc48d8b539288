#pragma once
// A program a benchmark starts (kov-simulator, kov-bridge): spawned with its stdout's first
// line read (where it listens), its stderr dropped or kept for the caller to read, ended with
// SIGTERM.
#include <sys/types.h>

#include <string>
#include <vector>

namespace kovbench {

class BenchChild {
 public:
  enum class Stderr { Dropped, Piped };
  /// Starts args[0] with the rest as its arguments and waits for its first line on stdout.
  /// A piped stderr has room for a burst of log lines, so the program never waits for its reader.
  explicit BenchChild(std::vector<std::string> args, Stderr err = Stderr::Dropped);
  ~BenchChild();
  BenchChild(const BenchChild&) = delete;
  BenchChild& operator=(const BenchChild&) = delete;

  /// The first line it printed, without its newline (empty when it printed none).
  const std::string& firstLine() const { return _firstLine; }
  pid_t pid() const { return _pid; }
  /// The read end of a piped stderr, the caller's to read and close (-1 when dropped).
  int stderrFd() const { return _stderr; }
  /// Time on a CPU so far, all its threads, in nanoseconds (from /proc/PID/task/*/schedstat).
  long long cpuNanoseconds() const;
  /// Context switches so far, all its threads: how often it woke up.
  long long wakeups() const;
  /// A field of /proc/PID/status in kB (VmHWM: its peak resident memory), or -1.
  long statusKb(const std::string& field) const;
  /// Ends it with SIGTERM and waits; the exit status, or -1 when it did not exit by itself.
  int stop();

 private:
  pid_t _pid = -1;
  int _stderr = -1;
  std::string _firstLine;
};

}  // namespace kovbench
