// Many tills at once against one kov-simulator, each a kov-cli process running one purchase
// through the approve scenario on its own station. One till runs alone first, the anchor;
// then, for each N, N tills are made ready (forked and stopped before they load kov-cli)
// and released together. Each till is timed from its release to its exit (its wall time),
// and split where its purchase reached the simulator (read from the simulator's log): the
// start (loading and starting kov-cli, up to its purchase's answer) and the payment (from
// there to the till's exit). Before each N, N "kov-cli --help" are released together the
// same way: what starting N processes at once costs this machine without any server.
//
//   kov_bench_tills [--speed FACTOR] [--tls] [--simulator PATH] [--cli PATH] N...
//
// --speed is the simulator's clock factor (default 1: a lone payment takes about 6 s);
// --tls serves https with a fresh test CA the tills trust. Prints, times in seconds:
//   lone wall_s=6.05 start_s=0.04 payment_s=6.01 cpu_s=0.04
//   tills=N approved=N wall_median_s= wall_max_s= wall_ratio= start_median_s= start_max_s=
//         help_median_s= help_max_s= payment_median_s= payment_max_s= payment_ratio=
//         payment_max_ratio= tills_cpu_s= simulator_cpu_s=
// (one line each; ratios are to the lone till's figure). Exits with 1 when a till was not
// approved or something could not be run.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "BenchChild.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string simulator = KOV_SIMULATOR_PATH;
  std::string cli = KOV_CLI_PATH;
  std::string speed = "1";
  bool tls = false;
  std::vector<int> counts;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double cpuSeconds(const rusage& usage) {
  return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// kov-simulator on 127.0.0.1 with a port of the system's choosing. Its log is read as it
// comes, and the time each purchase's line arrived is kept by TxnRef.
class Simulator {
 public:
  Simulator(const Options& options, const std::string& certDir)
      : _child(arguments(options, certDir), kovbench::BenchChild::Stderr::Piped) {
    const std::string prefix = "kov-simulator listening on ";
    if (_child.firstLine().rfind(prefix, 0) == 0) url = _child.firstLine().substr(prefix.size());
    if (_child.stderrFd() >= 0) _reader = std::thread([this, fd = _child.stderrFd()] { readLog(fd); });
  }
  ~Simulator() {
    _child.stop();
    if (_reader.joinable()) _reader.join();  // the log ends with the program
  }

  /// When the purchase of the TxnRef reached the simulator (its log line).
  std::optional<Clock::time_point> purchaseSeen(const std::string& txnRef) {
    const std::lock_guard<std::mutex> guard(_lock);
    const auto found = _purchases.find(txnRef);
    return found == _purchases.end() ? std::nullopt : std::optional(found->second);
  }
  double cpu() const {
    std::FILE* stat = std::fopen(("/proc/" + std::to_string(pid()) + "/stat").c_str(), "r");
    unsigned long user = 0, system = 0;
    const bool read = stat && std::fscanf(stat, "%*d %*s %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &user,
                                          &system) == 2;
    if (stat) std::fclose(stat);
    return read ? double(user + system) / double(::sysconf(_SC_CLK_TCK)) : 0.0;
  }
  pid_t pid() const { return _child.pid(); }

  std::string url;

 private:
  static std::vector<std::string> arguments(const Options& options, const std::string& certDir) {
    std::vector<std::string> args{options.simulator, "--listen", "127.0.0.1:0", "--speed", options.speed};
    if (options.tls) args.insert(args.end(), {"--tls", "--cert-dir", certDir});
    return args;
  }

  void readLog(int fd) {
    static const std::string marker = "POST Purchase TxnRef=";
    std::string pending;
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
      const Clock::time_point now = Clock::now();
      pending.append(buffer, std::size_t(n));
      std::size_t end = 0;
      for (std::size_t at; (at = pending.find('\n', end)) != std::string::npos; end = at + 1) {
        const std::size_t ref = pending.find(marker, end);
        if (ref < at) {
          const std::size_t from = ref + marker.size();
          const std::lock_guard<std::mutex> guard(_lock);
          _purchases.try_emplace(pending.substr(from, pending.find(' ', from) - from), now);
        }
      }
      pending.erase(0, end);
    }
    ::close(fd);
  }

  kovbench::BenchChild _child;
  std::thread _reader;
  std::mutex _lock;
  std::map<std::string, Clock::time_point> _purchases;
};

struct Till {
  std::string ref;
  int out = -1;  // its stdout, a file in memory
  pid_t pid = -1;
  Clock::time_point released, exited;
  int status = -1;
};

struct Round {
  std::vector<double> wall, start, payment;
  int approved = 0;
  double cpu = 0;
  double simulatorCpu = 0;
};

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
double maximum(const std::vector<double>& values) {
  return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

std::string readAll(int fd) {
  std::string all;
  char buffer[4096];
  for (ssize_t n; (n = ::pread(fd, buffer, sizeof buffer, off_t(all.size()))) > 0;) all.append(buffer, std::size_t(n));
  return all;
}

// N tills, forked and stopped, then released together; returns once every one has exited.
// With startOnly, each runs "kov-cli --help" instead: the cost of starting N at once alone.
std::optional<Round> runRound(Simulator& sim, const Options& options, const std::string& name, int n,
                              const std::string& caFile, bool startOnly = false) {
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  std::vector<Till> tills(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    Till& till = tills[std::size_t(i)];
    till.ref = name + "-" + std::to_string(i + 1);
    till.out = ::memfd_create("till", MFD_CLOEXEC);
    std::vector<std::string> args{options.cli, "purchase",   "--user",      "merchant", "--key",
                                  "s3cret",    "--station",  till.ref,      "--txn-ref", till.ref,
                                  "--amount",  "12.50",      "--currency",  "AUD",      "--endpoint", sim.url};
    if (!caFile.empty()) args.insert(args.end(), {"--ca-file", caFile});
    if (startOnly) args = {options.cli, "--help"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    till.pid = ::fork();
    if (till.pid == 0) {
      // Ready, but stopped before it loads anything; the release lets it go.
      ::dup2(till.out, 1);
      ::dup2(null, 2);
      ::raise(SIGSTOP);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    int status = 0;
    if (till.pid < 0 || ::waitpid(till.pid, &status, WUNTRACED) != till.pid || !WIFSTOPPED(status)) {
      std::fprintf(stderr, "kov_bench_tills: could not make till %d ready\n", i + 1);
      return std::nullopt;
    }
  }
  ::close(null);

  Round round;
  round.simulatorCpu = sim.cpu();
  for (Till& till : tills) {
    till.released = Clock::now();
    ::kill(till.pid, SIGCONT);
  }
  for (int left = n; left > 0;) {
    int status = 0;
    rusage usage{};
    const pid_t pid = ::wait4(-1, &status, 0, &usage);
    const auto till = std::find_if(tills.begin(), tills.end(), [pid](const Till& t) { return t.pid == pid; });
    if (pid < 0 || till == tills.end()) {
      std::fprintf(stderr, "kov_bench_tills: the simulator ended during the run\n");
      return std::nullopt;
    }
    till->exited = Clock::now();
    till->status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    round.cpu += cpuSeconds(usage);
    --left;
  }
  round.simulatorCpu = sim.cpu() - round.simulatorCpu;
  for (Till& till : tills) {
    const bool approved = till.status == 0 && readAll(till.out).find("\"transactionResult\":0,") != std::string::npos;
    round.approved += approved ? 1 : 0;
    ::close(till.out);
    round.wall.push_back(seconds(till.exited - till.released));
    if (const auto seen = sim.purchaseSeen(till.ref)) {
      round.start.push_back(seconds(*seen - till.released));
      round.payment.push_back(seconds(till.exited - *seen));
    }
  }
  return round;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--speed" && hasValue) {
      options.speed = argv[++i];
    } else if (arg == "--tls") {
      options.tls = true;
    } else if (arg == "--simulator" && hasValue) {
      options.simulator = argv[++i];
    } else if (arg == "--cli" && hasValue) {
      options.cli = argv[++i];
    } else if (std::atoi(arg.c_str()) > 0) {
      options.counts.push_back(std::atoi(arg.c_str()));
    } else {
      std::fprintf(stderr, "usage: kov_bench_tills [--speed FACTOR] [--tls] [--simulator PATH] [--cli PATH] N...\n");
      return 2;
    }
  }
  // Each till's output is a descriptor here until it is read.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }

  char certDir[] = "/tmp/kov-tills-XXXXXX";
  if (options.tls && !::mkdtemp(certDir)) {
    std::perror("kov_bench_tills: mkdtemp");
    return 1;
  }
  const std::string caFile = options.tls ? std::string(certDir) + "/ca.pem" : "";
  int failed = 0;
  {
    Simulator sim(options, certDir);
    if (sim.url.empty()) {
      std::fprintf(stderr, "kov_bench_tills: %s did not start\n", options.simulator.c_str());
      return 1;
    }
    const std::optional<Round> lone = runRound(sim, options, "lone", 1, caFile);
    if (!lone) return 1;
    const double wall = lone->wall[0];
    const double payment = median(lone->payment);
    std::printf("lone wall_s=%.2f start_s=%.2f payment_s=%.2f cpu_s=%.3f\n", wall, median(lone->start), payment,
                lone->cpu);
    failed += lone->approved == 1 ? 0 : 1;
    for (const int n : options.counts) {
      const std::optional<Round> starts = runRound(sim, options, "help" + std::to_string(n), n, caFile, true);
      const std::optional<Round> round = runRound(sim, options, "n" + std::to_string(n), n, caFile);
      if (!starts || !round) return 1;
      std::printf(
          "tills=%d approved=%d wall_median_s=%.2f wall_max_s=%.2f wall_ratio=%.2f start_median_s=%.2f "
          "start_max_s=%.2f help_median_s=%.2f help_max_s=%.2f payment_median_s=%.2f payment_max_s=%.2f "
          "payment_ratio=%.2f payment_max_ratio=%.2f tills_cpu_s=%.1f simulator_cpu_s=%.2f\n",
          n, round->approved, median(round->wall), maximum(round->wall), median(round->wall) / wall,
          median(round->start), maximum(round->start), median(starts->wall), maximum(starts->wall),
          median(round->payment), maximum(round->payment), median(round->payment) / payment,
          maximum(round->payment) / payment, round->cpu, round->simulatorCpu);
      std::fflush(stdout);
      failed += round->approved == n ? 0 : 1;
    }
  }
  if (options.tls) std::filesystem::remove_all(certDir);
  if (failed) std::fprintf(stderr, "kov_bench_tills: not every till was approved\n");
  return failed ? 1 : 0;
}
