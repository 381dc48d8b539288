#pragma once
// The kov-simulator program run as a child process with its stdout and stderr on pipes.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace simtest {

// The program run with its stdout and stderr on pipes.
class Program {
 public:
  /// With captureErrors false, stderr goes to /dev/null (a long run logs more than a pipe holds).
  explicit Program(std::vector<std::string> args, bool captureErrors = true) {
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    if (captureErrors) {
      posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    } else {
      posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    args.insert(args.begin(), KOV_SIMULATOR_EXE);
    std::vector<char*> argv;
    for (std::string& arg : args) {
      argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    if (posix_spawn(&_pid, KOV_SIMULATOR_EXE, &actions, nullptr, argv.data(), environ) != 0) {
      ADD_FAILURE() << "cannot start " << KOV_SIMULATOR_EXE;
      _pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    _out = out[0];
    _err = err[0];
  }

  ~Program() {
    if (_pid > 0) {
      kill(_pid, SIGKILL);
      waitpid(_pid, nullptr, 0);
    }
    close(_out);
    close(_err);
  }

  /// The first line on stdout, waiting at most the time-out.
  std::string readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::string line;
    char c = 0;
    while (true) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      pollfd ready{_out, POLLIN, 0};
      if (left.count() <= 0 || poll(&ready, 1, static_cast<int>(left.count())) <= 0 || read(_out, &c, 1) != 1 ||
          c == '\n') {
        return line;
      }
      line += c;
    }
  }

  /// Everything on stderr until the program closes it.
  std::string readErrors() {
    std::string text;
    char buffer[256];
    ssize_t n = 0;
    while ((n = read(_err, buffer, sizeof buffer)) > 0) {
      text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
  }

  void signal(int number) { kill(_pid, number); }

  /// The exit status; -1 when it did not exit normally.
  int wait() {
    int status = 0;
    const pid_t done = waitpid(_pid, &status, 0);
    _pid = -1;
    return done > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t _pid = -1;
  int _out = -1;
  int _err = -1;
};

}  // namespace simtest
