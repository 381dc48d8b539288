#pragma once
// A program run by a test: lines of its stdout and stderr, its stdin, bounded waits.
#include <QProcess>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kovit {

class ChildProcess {
 public:
  ChildProcess(const std::string& program, const std::vector<std::string>& args);
  ~ChildProcess();  // kills the program if it still runs
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return started_; }
  /// The next stdout line, waiting at most `timeout`.
  std::optional<std::string> nextStdoutLine(std::chrono::milliseconds timeout);
  /// Waits until a stderr line contains `needle`; returns that line.
  std::optional<std::string> waitForStderr(const std::string& needle, std::chrono::milliseconds timeout);
  void writeStdin(const std::string& text);
  void closeStdin();
  /// Exit status, or nullopt when it did not end in time (or crashed).
  std::optional<int> waitForExit(std::chrono::milliseconds timeout);
  void kill();
  void terminate();
  /// Sends the signal (SIGINT, SIGTERM, ...) to the program.
  void signal(int number);

  const std::vector<std::string>& stdoutLines() const { return out_; }
  const std::vector<std::string>& stderrLines() const { return err_; }
  std::string allStderr() const;

 private:
  void pump(int waitMs);
  static void split(std::string& buffer, std::vector<std::string>& lines);

  QProcess process_;
  bool started_ = false;
  std::string outBuffer_, errBuffer_;
  std::vector<std::string> out_, err_;
  std::size_t outRead_ = 0, errSeen_ = 0;
};

}  // namespace kovit
