// kov-bridge against kov-simulator on loopback, four figures (docs/benchmarks.md, section 9):
//
//   screen  how long a new screen takes from the service's answer reaching the bridge to the
//           "screen" event's bytes reaching a reader of the event stream. The bridge's
//           endpoint is a relay in this process (BenchRelay) that stamps the moment it hands
//           each piece of an answer to the bridge's socket; the reader, in this process too,
//           stamps each read of the stream. Both stamps are on one clock; an event's latency
//           is its read's stamp less the last answer's before it. The first screen of each
//           payment is left out: it comes with the answer to the transaction request, before
//           the stream may be open.
//   idle    the bridge's CPU (all threads, /proc/PID/task/*/schedstat) and wake-ups over a
//           window with one event stream open: a payment waiting at the card screen (the
//           simulator's clock nearly stopped), its status poll held by the service.
//   peak    the bridge's peak resident memory (VmHWM) after one approved purchase, against
//           kov-cli's (wait4's ru_maxrss) for the same purchase against the same simulator,
//           both journalled.
//   tills   N bridges (one per till, started beforehand) against one simulator: every till's
//           purchase released at once, each timed from its request to its result event,
//           against a lone till's (the median of three lone payments).
//
//   kov_bench_bridge [--short] [--tills N] [--simulator PATH] [--bridge PATH] [--cli PATH]
//
// --short: a few payments at a fast clock, 2 s idle, 4 tills (bench/smoke.sh). Prints:
//   screen events=N median_ms= p90_ms= max_ms=
//   idle seconds=S cpu_ms= cpu_percent= wakeups=
//   peak bridge_kb= cli_kb= ratio=
//   tills=N approved=N lone_s= median_s= max_s= ratio= max_ratio=
// Exits with 1 when a payment was not approved or something could not be run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchBridge.h"
#include "BenchChild.h"
#include "BenchRelay.h"

extern char** environ;

namespace {

using kovbench::BenchBridge;
using kovbench::BenchChild;
using kovbench::BenchRelay;
using Clock = std::chrono::steady_clock;

struct Options {
  std::string simulator = KOV_SIMULATOR_PATH;
  std::string bridge = KOV_BRIDGE_PATH;
  std::string cli = KOV_CLI_PATH;
  bool quick = false;
  int tills = 64;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double quantile(std::vector<double> values, double q) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, std::size_t(q * double(values.size())))];
}

// kov-simulator on 127.0.0.1 with a free port; its port, or 0.
int simulatorPort(const BenchChild& simulator) {
  const std::string prefix = "kov-simulator listening on http://127.0.0.1:";
  return simulator.firstLine().rfind(prefix, 0) == 0 ? std::atoi(simulator.firstLine().c_str() + prefix.size()) : 0;
}

std::string endpoint(int port) { return "http://127.0.0.1:" + std::to_string(port) + "/wqmi3/pos.aspx"; }

BenchChild simulator(const Options& options, std::vector<std::string> extra) {
  extra.insert(extra.begin(), {options.simulator, "--listen", "127.0.0.1:0"});
  return BenchChild(std::move(extra));
}

bool approved(const std::vector<BenchBridge::Event>& events) {
  return !events.empty() && events.back().name == "result" &&
         events.back().data.rfind("{\"transactionResult\":0,", 0) == 0;
}

bool screen(const Options& options) {
  BenchChild sim = simulator(options, {"--speed", options.quick ? "20" : "5"});
  const int simPort = simulatorPort(sim);
  if (!simPort) return false;
  const BenchRelay relay(simPort);
  const BenchBridge bridge(options.bridge, endpoint(relay.port()), "screen-1");
  if (!bridge.running()) return false;
  std::vector<double> latencies;
  const int payments = options.quick ? 2 : 30;
  for (int i = 1; i <= payments; ++i) {
    const std::string ref = "S-" + std::to_string(i);
    if (bridge.purchase(ref).status != 202) return false;
    const std::vector<BenchBridge::Event> events = bridge.events(ref);
    if (!approved(events)) return false;
    bool first = true;
    for (const BenchBridge::Event& event : events) {
      if (event.name != "screen") continue;
      if (!first) latencies.push_back(seconds(event.at - relay.lastAnswerBefore(event.at)) * 1000);
      first = false;
    }
    bridge.call("POST", "/v1/transactions/" + ref + "/acknowledge");
  }
  std::printf("screen events=%zu median_ms=%.3f p90_ms=%.3f max_ms=%.3f\n", latencies.size(), median(latencies),
              quantile(latencies, 0.9), quantile(latencies, 1.0));
  return true;
}

bool idle(const Options& options) {
  // The card screen stays for days at this clock; the service holds each poll (27 s).
  BenchChild sim = simulator(options, {"--speed", "0.00001"});
  BenchBridge bridge(options.bridge, endpoint(simulatorPort(sim)), "idle-1");
  if (!bridge.running() || bridge.purchase("I-1").status != 202) return false;
  std::vector<BenchBridge::Event> events;
  std::thread reader([&] { events = bridge.events("I-1"); });
  std::this_thread::sleep_for(std::chrono::seconds(2));  // its request answered, its first poll held
  const int window = options.quick ? 2 : 20;
  const long long cpu = bridge.process().cpuNanoseconds();
  const long long wakeups = bridge.process().wakeups();
  std::this_thread::sleep_for(std::chrono::seconds(window));
  const double cpuMs = double(bridge.process().cpuNanoseconds() - cpu) / 1e6;
  const long long woke = bridge.process().wakeups() - wakeups;
  bridge.process().stop();  // the payment stays in the journal, which goes with the folder
  reader.join();
  std::printf("idle seconds=%d cpu_ms=%.3f cpu_percent=%.4f wakeups=%lld screens=%zu\n", window, cpuMs,
              cpuMs / (window * 10.0), woke, events.size());
  return !events.empty() && events.front().name == "screen";
}

// kov-cli's peak resident memory for one journalled purchase, in kB, or -1.
long cliPeakKb(const Options& options, const std::string& url) {
  char dir[] = "/tmp/kov-bench-cli-XXXXXX";
  if (!::mkdtemp(dir)) return -1;
  std::vector<std::string> args{options.cli, "purchase",   "--user",      "merchant", "--key",     "s3cret",
                                "--station", "peak-cli",   "--txn-ref",   "P-2",      "--amount",  "12.50",
                                "--currency", "AUD",       "--endpoint",  url,        "--journal", std::string(dir) + "/journal.db"};
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const bool spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  const bool done = spawned && ::wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  std::filesystem::remove_all(dir);
  return done ? usage.ru_maxrss : -1;
}

bool peak(const Options& options) {
  BenchChild sim = simulator(options, {"--speed", "20", "--hold-ms", "50"});
  const std::string url = endpoint(simulatorPort(sim));
  long bridgeKb = -1;
  {
    BenchBridge bridge(options.bridge, url, "peak-bridge");
    if (!bridge.running() || bridge.purchase("P-1").status != 202 || !approved(bridge.events("P-1"))) return false;
    bridgeKb = bridge.process().statusKb("VmHWM");
  }
  const long cliKb = cliPeakKb(options, url);
  std::printf("peak bridge_kb=%ld cli_kb=%ld ratio=%.2f\n", bridgeKb, cliKb, double(bridgeKb) / double(cliKb));
  return bridgeKb > 0 && cliKb > 0;
}

bool tills(const Options& options) {
  BenchChild sim = simulator(options, {"--speed", options.quick ? "20" : "1"});
  const std::string url = endpoint(simulatorPort(sim));
  std::vector<std::unique_ptr<BenchBridge>> bridges;
  for (int i = 1; i <= options.tills; ++i) {
    bridges.push_back(std::make_unique<BenchBridge>(options.bridge, url, "till-" + std::to_string(i)));
    if (!bridges.back()->running()) return false;
  }
  // A payment from its request to its result event, in seconds; below 0 when not approved.
  const auto pay = [](const BenchBridge& bridge, const std::string& ref) {
    const Clock::time_point asked = Clock::now();
    if (bridge.purchase(ref).status != 202) return -1.0;
    const std::vector<BenchBridge::Event> events = bridge.events(ref);
    bridge.call("POST", "/v1/transactions/" + ref + "/acknowledge");
    return approved(events) ? seconds(events.back().at - asked) : -1.0;
  };
  std::vector<double> lone;
  for (int i = 0; i < std::min(options.quick ? 1 : 3, options.tills); ++i) {
    lone.push_back(pay(*bridges[std::size_t(i)], "lone-" + std::to_string(i + 1)));
    if (lone.back() < 0) return false;
  }
  std::vector<double> times(bridges.size(), -1.0);
  std::mutex lock;
  std::condition_variable go;
  bool released = false;
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < bridges.size(); ++i) {
    threads.emplace_back([&, i] {
      {
        std::unique_lock<std::mutex> wait(lock);
        go.wait(wait, [&] { return released; });
      }
      times[i] = pay(*bridges[i], "at-once-" + std::to_string(i + 1));
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(200));  // every thread waiting
  {
    const std::lock_guard<std::mutex> guard(lock);
    released = true;
  }
  go.notify_all();
  for (std::thread& thread : threads) thread.join();
  const long approvedCount = std::count_if(times.begin(), times.end(), [](double t) { return t >= 0; });
  const double loneMedian = median(lone);
  std::printf("tills=%d approved=%ld lone_s=%.3f median_s=%.3f max_s=%.3f ratio=%.3f max_ratio=%.3f\n", options.tills,
              approvedCount, loneMedian, median(times), quantile(times, 1.0), median(times) / loneMedian,
              quantile(times, 1.0) / loneMedian);
  return approvedCount == options.tills;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool hasValue = i + 1 < argc;
    if (arg == "--short") {
      options.quick = true;
      options.tills = 4;
    } else if (arg == "--tills" && hasValue && std::atoi(argv[i + 1]) > 0) {
      options.tills = std::atoi(argv[++i]);
    } else if (arg == "--simulator" && hasValue) {
      options.simulator = argv[++i];
    } else if (arg == "--bridge" && hasValue) {
      options.bridge = argv[++i];
    } else if (arg == "--cli" && hasValue) {
      options.cli = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: kov_bench_bridge [--short] [--tills N] [--simulator PATH] [--bridge PATH] [--cli PATH]\n");
      return 2;
    }
  }
  // Each till's bridge, its connections and the relay's are descriptors here.
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  int failed = 0;
  for (const auto& [name, measure] : {std::pair{"screen", &screen}, std::pair{"idle", &idle}, std::pair{"peak", &peak},
                                      std::pair{"tills", &tills}}) {
    if (!measure(options)) {
      std::fprintf(stderr, "kov_bench_bridge: %s: a payment was not approved or a program did not start\n", name);
      ++failed;
    }
    std::fflush(stdout);
  }
  return failed ? 1 : 0;
}
