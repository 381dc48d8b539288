// The engine over its transports against kov-simulator on loopback, and the same service
// driven by anchors in the same run.
//
//   kov_bench_transport connections [--hold-ms 100] [--speed 1.2]
//       One transaction over https through the transport (one session, kept-alive), then
//       one through a client that opens a new connection for every request. Prints the
//       polls and the connections (= TLS handshakes) the simulator counted for each.
//   kov_bench_transport roundtrip [--polls 1000] [--rounds 10] [--tls]
//       For each transport (the curl session on the Qt event loop and on the library's own
//       loop), transactions polled
//       `polls` times in all, the simulator answering at once: the time of each poll from
//       post to completion on the main thread, the whole process's CPU time per request, and
//       the connections the simulator accepted per transaction. curl posts the same
//       documents, one process per round, so over one kept-alive connection. The polls are
//       taken in `rounds` rounds, every client in turn in each. Prints median and p99 of each
//       client, and the ratios to curl's. --only NAME measures one transport (and curl).
//
// Common options: --simulator PATH (kov-simulator), --curl PATH (curl).
#include <KOVModule/KOVCurlTransport.h>
#include <KOVModule/KOVPollLoop.h>
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <time.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "BenchDocuments.h"
#include "BenchSimulator.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  QString mode;
  QString simulator = QStringLiteral(KOV_SIMULATOR_PATH);
  QString curl = QStringLiteral("curl");
  int polls = 1000;
  int rounds = 10;
  QString only;  // roundtrip: this transport alone (with the anchor)
  int holdMs = 100;
  QString speed = QStringLiteral("1.2");
  bool tls = false;
};

// Every request's time from post to its completion, and its body.
struct Recorder {
  struct Entry {
    std::string body;
    double ms = 0;
  };
  std::vector<Entry> entries;
};

// Times each request of the session it wraps.
class TimingSession : public KOVURLSession {
 public:
  TimingSession(std::unique_ptr<KOVURLSession> inner, std::shared_ptr<Recorder> recorder)
      : _inner(std::move(inner)), _recorder(std::move(recorder)) {}
  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override {
    const Clock::time_point start = Clock::now();
    return _inner->post(url, body, timeoutSeconds,
                        [recorder = _recorder, body, start, completion = std::move(completion)](
                            const std::optional<std::string>& data, const std::optional<KOVURLResponse>& response,
                            const std::optional<KOVError>& error) {
                          const std::chrono::duration<double, std::milli> took = Clock::now() - start;
                          recorder->entries.push_back({body, took.count()});
                          completion(data, response, error);
                        });
  }
  void cancel(KOVRequestId request) override { _inner->cancel(request); }
  void invalidateAndCancel() override { _inner->invalidateAndCancel(); }

 private:
  std::unique_ptr<KOVURLSession> _inner;
  std::shared_ptr<Recorder> _recorder;
};

// The anchor client: a fresh session, so a fresh connection, for every request; each is
// dropped once its request has completed.
class ConnectionPerRequestSession : public KOVURLSession {
 public:
  explicit ConnectionPerRequestSession(KOVURLSessionFactory factory) : _factory(std::move(factory)) {}
  ~ConnectionPerRequestSession() override { invalidateAndCancel(); }
  KOVRequestId post(const std::string& url, const std::string& body, double timeoutSeconds,
                    ResponseHandler completion) override {
    const KOVRequestId id = _nextId++;
    auto& slot = _sessions[id];
    slot.session = _factory();
    slot.inner = slot.session->post(
        url, body, timeoutSeconds,
        [this, id, alive = std::weak_ptr<const bool>(_alive), completion = std::move(completion)](
            const std::optional<std::string>& data, const std::optional<KOVURLResponse>& response,
            const std::optional<KOVError>& error) {
          if (!alive.expired()) {
            // Not from inside the session's own completion: dropped on the next turn.
            QTimer::singleShot(0, [this, id, alive] {
              if (!alive.expired()) _sessions.erase(id);
            });
          }
          completion(data, response, error);
        });
    return id;
  }
  void cancel(KOVRequestId request) override {
    const auto found = _sessions.find(request);
    if (found != _sessions.end()) found->second.session->cancel(found->second.inner);
  }
  void invalidateAndCancel() override {
    for (auto& [id, slot] : _sessions) slot.session->invalidateAndCancel();
  }

 private:
  struct Slot {
    std::unique_ptr<KOVURLSession> session;
    KOVRequestId inner = 0;
  };
  KOVURLSessionFactory _factory;
  std::map<KOVRequestId, Slot> _sessions;
  KOVRequestId _nextId = 1;
  std::shared_ptr<const bool> _alive = std::make_shared<const bool>(true);
};

struct TransactionRun {
  bool finished = false;
  KOVTransactionResult result = KOVTransactionResultFailed;
  int screens = 0;
};

// Runs the event loop a transaction is driven by until finished holds or limit has passed.
using Spin = std::function<void(const bool& finished, std::chrono::milliseconds limit)>;

void spinQt(const bool& finished, std::chrono::milliseconds limit) {
  const QDeadlineTimer deadline(limit.count());
  QTimer wake;  // ends the last wait at the deadline
  wake.start(limit);
  while (!finished && !deadline.hasExpired()) {
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
}

Spin spinOn(const std::shared_ptr<KOVPollLoop>& loop) {
  return [loop](const bool& finished, std::chrono::milliseconds limit) {
    const KOVEventLoop::TimerId deadline = loop->startTimer(limit, [loop] { loop->quit(); });
    loop->runUntil([&finished] { return finished; });
    loop->cancelTimer(deadline);
  };
}

// Runs one purchase to its result (or the deadline). With pressAfter > 0 the cancel button
// is pressed once that many screens have been shown.
TransactionRun runPurchase(WqKOV& engine, const std::string& txnRef, const std::string& station, int pressAfter,
                           std::chrono::seconds limit, const Spin& spin = spinQt) {
  TransactionRun run;
  bool pressed = false;
  engine.startTransaction(
      kovbench::benchDetails(txnRef, station), KOVTransactionTypePurchase, true, false, nullptr,
      [&](KOVState, const std::optional<std::string>&, const std::string&, const std::string&,
          const std::optional<std::string>& button1, const std::optional<std::string>&) {
        ++run.screens;
        if (pressAfter > 0 && run.screens >= pressAfter && !pressed && button1) {
          pressed = true;
          engine.sendButtonRequest("B1", button1);
        }
      },
      [&](KOVTransactionResultDetails result) {
        run.finished = true;
        run.result = result.transactionResult;
      },
      nullptr);
  spin(run.finished, std::chrono::duration_cast<std::chrono::milliseconds>(limit));
  return run;
}

int statusPolls(const kovbench::BenchSimulator& sim, const std::string& txnRef) {
  const QJsonObject transactions = sim.stats().value(QStringLiteral("transactions")).toObject();
  return transactions.value(QString::fromStdString(txnRef)).toObject().value(QStringLiteral("Status")).toInt();
}

int runConnections(const Options& options) {
  kovbench::BenchSimulator sim(options.simulator,
                               {QStringLiteral("--hold-ms"), QString::number(options.holdMs),
                                QStringLiteral("--speed"), options.speed},
                               true);
  if (!sim.running()) {
    std::fprintf(stderr, "kov_bench_transport: the simulator did not start\n");
    return 1;
  }
  std::string why;
  if (!KOVQtTransport::addTrustedCertificates(sim.caFile().toStdString(), &why)) {
    std::fprintf(stderr, "kov_bench_transport: %s\n", why.c_str());
    return 1;
  }
  const std::string url = sim.url().toStdString();
  int failures = 0;
  const auto measure = [&](const char* name, KOVURLSessionFactory factory, const std::string& ref,
                           const std::string& station) {
    WqKOV engine;
    engine.setEndpointUrls(url, url);
    engine.setMainQueue(KOVQtTransport::mainQueue());
    engine.setSessionFactory(std::move(factory));
    const long long before = sim.connections();
    const TransactionRun run = runPurchase(engine, ref, station, 0, std::chrono::seconds(120));
    const long long after = sim.connections();
    const long long used = after - before - 1;  // less the first stats request's own
    const int polls = statusPolls(sim, ref);
    std::printf("connections %-16s result=%s polls=%d requests=%d connections=%lld handshakes_per_txn=%lld\n", name,
                run.finished && run.result == KOVTransactionResultSucceeded ? "approved" : "NOT-APPROVED", polls,
                polls + 1, used, used);
    if (!run.finished || run.result != KOVTransactionResultSucceeded) ++failures;
  };
  const KOVURLSessionFactory transport = KOVQtTransport::sessionFactory();
  measure("transport", transport, "bench-conn-keep", "bench-conn-1");
  measure("new-per-request",
          [transport]() -> std::unique_ptr<KOVURLSession> {
            return std::make_unique<ConnectionPerRequestSession>(transport);
          },
          "bench-conn-each", "bench-conn-2");
  KOVQtTransport::clearTrustedCertificates();
  return failures == 0 ? 0 : 1;
}

struct Spread {
  double median = 0;
  double p99 = 0;
  std::size_t count = 0;
};

Spread spreadOf(std::vector<double> values) {
  Spread out;
  out.count = values.size();
  if (values.empty()) return out;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  out.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
  out.p99 = values[static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n))) - 1];
  return out;
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// curl posts the purchase, then the status document `polls` times, all in one process and
// so over one kept-alive connection; it writes each transfer's time and new connections.
bool runCurl(const Options& options, int polls, const kovbench::BenchSimulator& sim, const std::string& purchase,
             const std::string& status, std::vector<double>& times, long long& connects) {
  QTemporaryDir dir;
  const auto write = [&](const QString& name, const std::string& text) {
    QFile file(dir.filePath(name));
    return file.open(QIODevice::WriteOnly) &&
           file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size());
  };
  std::string config;
  const auto entry = [&](const QString& document) {
    config += "url = \"" + sim.url().toStdString() + "\"\n";
    config += "data-binary = \"@" + dir.filePath(document).toStdString() + "\"\n";
    config += "header = \"Content-Type: text/xml\"\n";
    config += "output = \"/dev/null\"\n";
    config += "write-out = \"%{time_total} %{num_connects}\\n\"\n";
    if (options.tls) config += "cacert = \"" + sim.caFile().toStdString() + "\"\n";
  };
  entry(QStringLiteral("purchase.xml"));
  for (int i = 0; i < polls; ++i) {
    config += "next\n";
    entry(QStringLiteral("status.xml"));
  }
  if (!write(QStringLiteral("purchase.xml"), purchase) || !write(QStringLiteral("status.xml"), status) ||
      !write(QStringLiteral("curl.cfg"), config)) {
    return false;
  }
  QProcess curl;
  curl.setStandardErrorFile(QProcess::nullDevice());
  curl.start(options.curl, {QStringLiteral("-s"), QStringLiteral("-K"), dir.filePath(QStringLiteral("curl.cfg"))});
  if (!curl.waitForFinished(180000) || curl.exitCode() != 0) {
    curl.kill();
    curl.waitForFinished(5000);
    return false;
  }
  const QList<QByteArray> lines = curl.readAllStandardOutput().split('\n');
  const std::size_t before = times.size();
  for (int i = 0; i < lines.size(); ++i) {
    const QList<QByteArray> fields = lines[i].trimmed().split(' ');
    if (fields.size() != 2) continue;
    connects += fields[1].toLongLong();
    if (i > 0) times.push_back(fields[0].toDouble() * 1000.0);  // the first is the purchase
  }
  return static_cast<int>(times.size() - before) == polls;
}

double processCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec) / 1e6;
}

// One transport of the round-trip run: how the engine is wired and how its loop runs.
struct Transport {
  const char* name;
  std::function<void(WqKOV&, std::shared_ptr<Recorder>)> wire;
  Spin spin;
};

std::vector<Transport> transports() {
  const auto timed = [](KOVURLSessionFactory factory, std::shared_ptr<Recorder> recorder) {
    return [recorder, factory = std::move(factory)]() -> std::unique_ptr<KOVURLSession> {
      return std::make_unique<TimingSession>(factory(), recorder);
    };
  };
  const auto ownLoop = std::make_shared<KOVPollLoop>();
  return {
      {"curl-qt",
       [timed](WqKOV& engine, std::shared_ptr<Recorder> recorder) {
         engine.setMainQueue(KOVQtTransport::mainQueue());
         engine.setSessionFactory(timed(KOVQtTransport::sessionFactory(), std::move(recorder)));
       },
       spinQt},
      {"curl-own-loop",
       [timed, ownLoop](WqKOV& engine, std::shared_ptr<Recorder> recorder) {
         engine.setMainQueue(ownLoop);
         engine.setSessionFactory(timed(KOVCurlTransport::sessionFactory(ownLoop), std::move(recorder)));
       },
       spinOn(ownLoop)},
  };
}

int runRoundTrip(const Options& options) {
  // The card screen stays for days at this speed; every status answer goes out at once.
  kovbench::BenchSimulator sim(options.simulator,
                               {QStringLiteral("--hold-ms"), QStringLiteral("0"), QStringLiteral("--speed"),
                                QStringLiteral("0.00001")},
                               options.tls);
  if (!sim.running()) {
    std::fprintf(stderr, "kov_bench_transport: the simulator did not start\n");
    return 1;
  }
  if (options.tls && !KOVQtTransport::addTrustedCertificates(sim.caFile().toStdString())) {
    return 1;
  }
  const std::string url = sim.url().toStdString();
  const char* scheme = options.tls ? "https" : "http";

  // The polls are taken in rounds, each transport and curl in turn within a round, so that
  // the load of a shared machine falls on all of them alike.
  const int rounds = std::min(options.rounds, options.polls);
  struct Totals {
    std::vector<double> times;
    double cpuMs = 0;
    std::size_t requests = 0;
    long long connections = 0;
    bool ok = true;
  };
  std::vector<Transport> all = transports();
  if (!options.only.isEmpty()) {
    std::erase_if(all, [&](const Transport& transport) { return options.only != QLatin1String(transport.name); });
  }
  std::vector<Totals> totals(all.size());
  Totals curl;
  for (int round = 0; round < rounds; ++round) {
    const int polls = options.polls / rounds + (round < options.polls % rounds ? 1 : 0);
    std::string purchase, status;
    for (std::size_t t = 0; t < all.size(); ++t) {
      const std::string ref = "bench-rtt-" + std::to_string(round) + "-" + std::to_string(t);
      auto recorder = std::make_shared<Recorder>();
      const long long connectionsBefore = sim.connections();
      TransactionRun run;
      {
        WqKOV engine;
        engine.setEndpointUrls(url, url);
        engine.setPollFloor(0);  // a poll's round trip, not the floor between polls
        all[t].wire(engine, recorder);
        const double cpuBefore = processCpuMs();
        // The first screen answers the purchase; then one screen per poll.
        run = runPurchase(engine, ref, ref, polls + 1, std::chrono::seconds(300), all[t].spin);
        totals[t].cpuMs += processCpuMs() - cpuBefore;
      }
      totals[t].connections += sim.connections() - connectionsBefore - 1;  // less the first stats request's own
      int taken = 0;
      for (const Recorder::Entry& entry : recorder->entries) {
        if (entry.body.find("<TxnType>Purchase</TxnType>") != std::string::npos) {
          purchase = replaced(entry.body, ref, ref + "-curl");
        } else if (entry.body.find("<TxnType>Status</TxnType>") != std::string::npos && taken < polls) {
          status = replaced(entry.body, ref, ref + "-curl");
          totals[t].times.push_back(entry.ms);
          ++taken;
        }
      }
      totals[t].requests += recorder->entries.size();
      totals[t].ok = totals[t].ok && run.finished && taken == polls;
    }
    long long connects = 0;
    curl.ok = curl.ok && !purchase.empty() && !status.empty() &&
              runCurl(options, polls, sim, purchase, status, curl.times, connects);
    curl.connections += connects;
  }

  const Spread anchor = spreadOf(curl.times);
  bool ok = curl.ok;
  for (std::size_t t = 0; t < all.size(); ++t) {
    const Spread spread = spreadOf(totals[t].times);
    std::printf("roundtrip %s %-13s polls=%zu median_ms=%.3f p99_ms=%.3f cpu_us_per_poll=%.1f "
                "connections_per_txn=%.2f ratio_median=%.2f ratio_p99=%.2f%s\n",
                scheme, all[t].name, spread.count, spread.median, spread.p99,
                1000.0 * totals[t].cpuMs / static_cast<double>(std::max<std::size_t>(1, totals[t].requests)),
                static_cast<double>(totals[t].connections) / rounds, anchor.median > 0 ? spread.median / anchor.median : 0,
                anchor.p99 > 0 ? spread.p99 / anchor.p99 : 0, totals[t].ok ? "" : " FAILED");
    ok = ok && totals[t].ok;
  }
  std::printf("roundtrip %s %-13s polls=%zu median_ms=%.3f p99_ms=%.3f connections_per_txn=%.2f%s\n", scheme, "curl",
              anchor.count, anchor.median, anchor.p99, static_cast<double>(curl.connections) / rounds,
              curl.ok ? "" : " FAILED");
  KOVQtTransport::clearTrustedCertificates();
  return ok ? 0 : 1;
}

void usage() {
  std::fprintf(stderr,
               "usage: kov_bench_transport connections|roundtrip [--polls N] [--rounds N] [--only NAME] [--tls]\n"
               "                           [--hold-ms MS] [--speed F] [--simulator PATH] [--curl PATH]\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments();
  Options options;
  for (int i = 1; i < args.size(); ++i) {
    const QString& arg = args[i];
    const bool hasValue = i + 1 < args.size();
    if (arg == QLatin1String("--polls") && hasValue) {
      options.polls = std::max(1, args[++i].toInt());
    } else if (arg == QLatin1String("--only") && hasValue) {
      options.only = args[++i];
    } else if (arg == QLatin1String("--rounds") && hasValue) {
      options.rounds = std::max(1, args[++i].toInt());
    } else if (arg == QLatin1String("--hold-ms") && hasValue) {
      options.holdMs = std::max(0, args[++i].toInt());
    } else if (arg == QLatin1String("--speed") && hasValue) {
      options.speed = args[++i];
    } else if (arg == QLatin1String("--simulator") && hasValue) {
      options.simulator = args[++i];
    } else if (arg == QLatin1String("--curl") && hasValue) {
      options.curl = args[++i];
    } else if (arg == QLatin1String("--tls")) {
      options.tls = true;
    } else if (options.mode.isEmpty() && !arg.startsWith(QLatin1Char('-'))) {
      options.mode = arg;
    } else {
      usage();
      return 2;
    }
  }
  if (options.mode == QLatin1String("connections")) return runConnections(options);
  if (options.mode == QLatin1String("roundtrip")) return runRoundTrip(options);
  usage();
  return 2;
}
