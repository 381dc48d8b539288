#pragma once
// Programs run by the integration tests: spawned with their output in files in memory,
// waited for with a bound, killed if they outlive their test.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kovit {

// A program whose output goes to files in memory (stdout elsewhere when stdoutTo names a
// descriptor, closed when it is kClosed); killed if it outlives its test.
struct Program {
  static constexpr int kClosed = -2;
  Program(const char* path, std::vector<std::string> args, int stdoutTo = -1) {
    int pipe[2] = {-1, -1};
    EXPECT_EQ(::pipe2(pipe, O_CLOEXEC), 0);
    input = pipe[1];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [from, to] : {std::pair{pipe[0], 0}, std::pair{stdoutTo >= 0 ? stdoutTo : out, 1},
                                   std::pair{err, 2}}) {
      posix_spawn_file_actions_adddup2(&actions, from, to);
    }
    if (stdoutTo == kClosed) posix_spawn_file_actions_addclose(&actions, 1);
    args.insert(args.begin(), path);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid, path, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe[0]);
  }
  Program(const Program&) = delete;
  ~Program() {
    if (!status && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
    for (const int fd : {input, out, err}) ::close(fd);
  }
  static std::string text(int fd) {
    std::string all;
    char buffer[4096];
    for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, off_t(all.size()))) > 0;) all.append(buffer, std::size_t(n));
    return all;
  }
  // Waits at most a minute until the text is in stdout or stderr (with none, until the end).
  bool waitFor(const std::string& needle = "") {
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
         std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      int code = 0;
      if (!status && ::waitpid(pid, &code, WNOHANG) == pid) status = WIFEXITED(code) ? WEXITSTATUS(code) : -code;
      if (needle.empty() ? status.has_value() : (text(out) + text(err)).find(needle) != std::string::npos) return true;
      if (status) return false;
    }
    return false;
  }

  const int out = ::memfd_create("stdout", MFD_CLOEXEC);
  const int err = ::memfd_create("stderr", MFD_CLOEXEC);
  int input = -1;
  pid_t pid = -1;
  std::optional<int> status;  // the exit status, or minus the signal that ended it
};

// The simulator's address from its start line.
inline std::string listening(Program& sim) {
  std::smatch url;
  const std::string line = sim.waitFor("\n") ? Program::text(sim.out) : "";
  EXPECT_TRUE(std::regex_match(line, url, std::regex("kov-simulator listening on (http://[\\d.:]+)/wqmi3/pos.aspx\n")));
  return url[1];
}

// One request by libcurl: a GET, or with a body a POST of it as text/xml; the answer's
// body, nullopt when none came.
inline std::optional<std::string> fetch(const std::string& url, const std::optional<std::string>& body = std::nullopt) {
  std::string answer;
  CURL* curl = curl_easy_init();
  curl_slist* headers = curl_slist_append(nullptr, "Content-Type: text/xml");
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  if (body) {
    curl_easy_setopt(curl, CURLOPT_POSTFIELDS, body->c_str());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
  }
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &answer);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, +[](char* data, std::size_t one, std::size_t n, void* to) {
    static_cast<std::string*>(to)->append(data, one * n);
    return one * n;
  });
  const CURLcode done = curl_easy_perform(curl);
  curl_slist_free_all(headers);
  curl_easy_cleanup(curl);
  return done == CURLE_OK ? std::optional(answer) : std::nullopt;
}

}  // namespace kovit
