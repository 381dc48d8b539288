#include "BenchChild.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

extern char** environ;

namespace kovbench {
namespace {

// Sums a number of every thread's file under /proc/PID/task.
template <class Read>
long long overThreads(pid_t pid, Read read) {
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* dir = ::opendir(tasks.c_str());
  if (!dir) return -1;
  long long sum = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] != '.') sum += read(tasks + "/" + entry->d_name);
  }
  ::closedir(dir);
  return sum;
}

}  // namespace

BenchChild::BenchChild(std::vector<std::string> args, Stderr err) {
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  int errPipe[2] = {-1, -1};
  if (err == Stderr::Piped && ::pipe2(errPipe, O_CLOEXEC) == 0) ::fcntl(errPipe[0], F_SETPIPE_SZ, 1 << 20);
  _stderr = errPipe[0];
  const int errTo = err == Stderr::Piped ? errPipe[1] : ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errTo, 2);
  if (::posix_spawn(&_pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) _pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  ::close(errTo);
  char c = 0;
  while (_pid > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') _firstLine += c;
  // Nothing else it prints is read: both programs write their one line and then log to stderr.
  ::close(out[0]);
}

BenchChild::~BenchChild() { stop(); }

int BenchChild::stop() {
  if (_pid <= 0) return -1;
  int status = 0;
  ::kill(_pid, SIGTERM);
  ::waitpid(_pid, &status, 0);
  _pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long long BenchChild::cpuNanoseconds() const {
  return overThreads(_pid, [](const std::string& task) {
    long long onCpu = 0;
    std::ifstream(task + "/schedstat") >> onCpu;
    return onCpu;
  });
}

long long BenchChild::wakeups() const {
  return overThreads(_pid, [](const std::string& task) {
    std::ifstream status(task + "/status");
    long long sum = 0;
    for (std::string line; std::getline(status, line);) {
      if (line.find("ctxt_switches:") != std::string::npos) sum += std::stoll(line.substr(line.find(':') + 1));
    }
    return sum;
  });
}

long BenchChild::statusKb(const std::string& field) const {
  std::ifstream status("/proc/" + std::to_string(_pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(field + ":", 0) == 0) return std::stol(line.substr(field.size() + 1));
  }
  return -1;
}

}  // namespace kovbench
