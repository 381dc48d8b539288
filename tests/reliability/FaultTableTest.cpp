// Every fault the simulator plays, met by the engine over the real transport (the one that
// KOVQtTransport installs on the Qt event loop), one by one and then drawn at random in a
// soak. A fault the client gets no usable answer from is a URL-layer failure: counted,
// retried, and the ninth in a row ends the transaction with the time-out result; a broken
// answer is an answer: what was read before its fault is used and the next poll follows.
// Whatever the fault: exactly one result, nothing sent after it, every request sent once, and
// the merchant key in nothing the host is handed nor in the simulator's log.
#include <KOVModule/KOVQtTransport.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "EngineRun.h"
#include "LoopbackSimulator.h"

namespace kovrel {
namespace {

using kovsim::SimCertificateKind;

// How the simulator serves: plain http, or https with a certificate or protocols to refuse.
enum class Tls { Off, Valid, UnknownCa, WrongHost, Expired, Old };
struct TlsSetting {
  const char* nameSuffix;
  SimCertificateKind certificate;
};
constexpr TlsSetting kTlsSettings[] = {
    {"", SimCertificateKind::Valid},           {"_tls", SimCertificateKind::Valid},
    {"_tls_unknown_ca", SimCertificateKind::UnknownCa}, {"_tls_wrong_host", SimCertificateKind::WrongHost},
    {"_tls_expired", SimCertificateKind::Expired},      {"_tls_1_1", SimCertificateKind::Valid},
};

struct Row {
  const char* scenario;        // the transaction's merchant reference is "sim:" and this
  KOVTransactionResult result;
  int failures;                // the highest "KOV Timeout. Starting attempt N": 0 none, 9 the time-out
  int received = -1;           // requests that reached the service; -1: each one the client sent
  const char* shown = nullptr;  // a screen "LINE1|LINE2" the host must have been shown
  Tls tls = Tls::Off;
  bool wrongKey = false;
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.scenario; }


constexpr auto kOk = KOVTransactionResultSucceeded;
constexpr auto kTimeout = KOVTransactionResultTimeout;
constexpr const char* kCardScreen = "PRESENT/INSERT CARD|PURCHASE       AUD 12.50";

const std::vector<Row> kRows = {
    // The terminal's own endings, for the key checks.
    {"approve", kOk, 0, -1, kCardScreen},
    {"decline", KOVTransactionResultFailed, 0},
    {"cancel", KOVTransactionResultFailed, 0},
    {"signature", kOk, 0},
    {"result-complete", kOk, 0},
    {"approve", KOVTransactionResultUserKeyNotMatched, 0, 1, nullptr, Tls::Off, true},
    // Failures that last: from the first poll (the transaction request and nine polls reach
    // the service), and from the transaction request (it and eight polls).
    {"close", kTimeout, 9, 10},
    {"reset", kTimeout, 9, 10},
    {"reset-body", kTimeout, 9, 10},
    {"cut", kTimeout, 9, 10},
    {"stall", kTimeout, 9, 10},
    {"trickle", kTimeout, 9, 10},
    {"refuse", kTimeout, 9, 2},
    {"http404", kTimeout, 9, 10},
    {"http502", kTimeout, 9, 10},
    {"oversize", kTimeout, 9, 10},
    {"close-first", kTimeout, 9, 9},
    {"reset-first", kTimeout, 9, 9},
    {"reset-body-first", kTimeout, 9, 9},
    {"cut-first", kTimeout, 9, 9},
    {"refuse-first", kTimeout, 9, 1},
    {"http404-first", kTimeout, 9, 9},
    {"http502-first", kTimeout, 9, 9},
    {"oversize-first", kTimeout, 9, 9},
    // Failures that pass: eight in a row are retried, and each answer starts the count afresh.
    {"reset-8", kOk, 8},
    {"close-first-1", kOk, 1},
    {"stall-first-1", kOk, 1},  // waits out the client's default time-out of 30 s
    // Broken answers, in place of screens; the final result comes intact.
    {"http500", kOk, 0},
    {"garbage", kOk, 0, -1, "|"},
    {"truncated", kOk, 0, -1, "TRUNCATED|ANSWER CU"},
    {"empty", kOk, 0, -1, "|"},
    {"bad-utf8", kOk, 0, -1, "BAD|"},
    {"deep", kOk, 0, -1, "DEEP|"},
    {"doctype", kOk, 0, -1, "|"},
    {"odd-tmo", kOk, 0},
    {"http500-first", kOk, 0, -1, kCardScreen},
    {"garbage-first", kOk, 0, -1, "|"},
    {"truncated-first", kOk, 0, -1, "TRUNCATED|ANSWER CU"},
    {"empty-first", kOk, 0, -1, "|"},
    {"bad-utf8-first", kOk, 0, -1, "BAD|"},
    {"deep-first", kOk, 0, -1, "DEEP|"},
    {"doctype-first", kOk, 0, -1, "|"},
    {"odd-tmo-first", kOk, 0},
    // Certificates and protocols a client must refuse before it sends anything.
    {"approve", kOk, 0, -1, nullptr, Tls::Valid},
    {"approve", kTimeout, 9, 0, nullptr, Tls::UnknownCa},
    {"approve", kTimeout, 9, 0, nullptr, Tls::WrongHost},
    {"approve", kTimeout, 9, 0, nullptr, Tls::Expired},
    {"approve", kTimeout, 9, 0, nullptr, Tls::Old},
};

std::string rowName(const testing::TestParamInfo<Row>& info) {
  std::string name = std::string(info.param.scenario) + (info.param.wrongKey ? "_wrong_key" : "") +
                     kTlsSettings[static_cast<int>(info.param.tls)].nameSuffix;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}

std::vector<std::string> retryLines(const EngineRun& run) {
  std::vector<std::string> lines;
  for (const std::string& entry : run.logOf(KOVTransactionLogEntryInfo)) {
    if (entry.rfind("KOV Timeout.", 0) == 0) {
      lines.push_back(entry);
    }
  }
  return lines;
}

int highestAttempt(const std::vector<std::string>& lines) {
  const std::string prefix = "KOV Timeout. Starting attempt ";
  int highest = 0;
  for (const std::string& line : lines) {
    if (line.rfind(prefix, 0) == 0) {
      highest = std::max(highest, std::stoi(line.substr(prefix.size())));
    }
  }
  return highest;
}

std::vector<std::string> nineFailuresThenTimeout() {
  std::vector<std::string> lines;
  for (int attempt = 1; attempt <= 9; ++attempt) {
    lines.push_back("KOV Timeout. Starting attempt " + std::to_string(attempt));
  }
  lines.push_back("KOV Timeout. Out of attempts. Triggering result.");
  return lines;
}

// The run ended once, with the result, the retries (each after its reason) and nothing more;
// and nothing the host was handed holds the key, nor anything a hostile answer smuggled in.
void expectOneHonestEnd(EngineRun& run, KOVTransactionResult result, int failures,
                        const std::string& reason = "") {
  ASSERT_EQ(run.results().size(), 1u);
  EXPECT_EQ(run.results()[0].transactionResult, result);
  EXPECT_FALSE(WqKOV::get().isTransactionInProgress());
  const std::vector<std::string> retries = retryLines(run);
  EXPECT_EQ(highestAttempt(retries), failures);
  if (failures == 9) {
    EXPECT_EQ(retries, nineFailuresThenTimeout());
  }
  const auto& log = run.log();
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i].second.rfind("KOV Timeout. Starting attempt", 0) == 0) {
      ASSERT_GT(i, 0u);
      EXPECT_EQ(log[i - 1].first, KOVTransactionLogEntryError) << log[i].second;
      if (!reason.empty()) {
        EXPECT_EQ(log[i - 1].second, reason);
      }
    }
  }
  const std::string reported = run.everythingReported();
  EXPECT_FALSE(holdsKey(reported));
  for (const char* smuggled : {"lollol", "root:x:", "\xff", "XXXXXXXX"}) {
    EXPECT_EQ(reported.find(smuggled), std::string::npos) << smuggled;
  }
  for (const std::string& entry : run.logOf(KOVTransactionLogEntryRequestContent)) {
    EXPECT_NE(entry.find("key=\"......\""), std::string::npos) << entry;
  }
}

class FaultTable : public testing::TestWithParam<Row> {};

TEST_P(FaultTable, EndsOnceWithTheResultOfItsFault) {
  const Row& row = GetParam();
  kovsim::SimConfig config = quickConfig(20);
  config.tls = row.tls != Tls::Off;
  config.oldTls = row.tls == Tls::Old;
  config.certificate = kTlsSettings[static_cast<int>(row.tls)].certificate;
  LoopbackSimulator sim(config);
  ASSERT_TRUE(sim.running());
  if (config.tls) {
    std::string why;
    ASSERT_TRUE(KOVQtTransport::addTrustedCertificates(sim.caFile(), &why)) << why;
  }
  const std::string ref = "T-" + rowName(testing::TestParamInfo<Row>(row, 0));
  EngineRun run(sim.url(), ref, std::string("sim:") + row.scenario, row.wrongKey ? "wrong-key" : kTestKey);
  ASSERT_TRUE(run.waitForResult(60000));
  const std::size_t sent = run.logOf(KOVTransactionLogEntryRequestContent).size();
  const std::uint64_t received = sim.received(ref);
  settle(300);

  // An HTTP error page is logged by its status.
  const std::string name = row.scenario;
  expectOneHonestEnd(run, row.result, row.failures, name.rfind("http", 0) == 0 ? "HTTP " + name.substr(4, 3) : "");
  EXPECT_EQ(run.logOf(KOVTransactionLogEntryRequestContent).size(), sent) << "sent after the end";
  EXPECT_EQ(sim.received(ref), received) << "received after the end";
  EXPECT_EQ(received, row.received < 0 ? sent : static_cast<std::size_t>(row.received));
  if (row.shown) {
    EXPECT_NE(std::find(run.screens().begin(), run.screens().end(), row.shown), run.screens().end()) << row.shown;
  }
  for (const std::string& line : sim.logLines()) {
    EXPECT_FALSE(holdsKey(line)) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, testing::ValuesIn(kRows), rowName);

int envInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

int openFiles() {
  const std::filesystem::directory_iterator fds("/proc/self/fd");
  return static_cast<int>(std::distance(std::filesystem::begin(fds), std::filesystem::end(fds)));
}

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Many transactions in a row through one engine and one simulator, each with a row of the
// table drawn at random: each gets exactly its row's result, and open files and memory do
// not grow. KOV_SOAK_COUNT sets the number (default 100), KOV_SOAK_SEED the draw.
TEST(Soak, EveryTransactionEndsOnceWithTheResultOfItsFault) {
  const int count = envInt("KOV_SOAK_COUNT", 100);
  const auto seed = static_cast<unsigned>(envInt("KOV_SOAK_SEED", 20261207));
  kovsim::SimConfig config = quickConfig(100);
  config.holdMs = 20;
  LoopbackSimulator sim(config);
  ASSERT_TRUE(sim.running());
  // Over plain http, quick, and leaving the simulator listening.
  std::vector<Row> rows;
  for (const Row& row : kRows) {
    const std::string name = row.scenario;
    if (row.tls == Tls::Off && name.find("stall") == std::string::npos && name.find("trickle") == std::string::npos &&
        name.find("refuse") == std::string::npos) {
      rows.push_back(row);
    }
  }
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> draw(0, rows.size() - 1);
  std::map<std::string, int> played;
  const int warmUp = std::max(10, count / 10);
  // Open files are counted after completed transactions only: after a time-out the engine
  // keeps its session, and with it its connections, for the next transaction.
  int openAtWarmUp = -1;
  int openAtEnd = -1;
  long residentAtWarmUp = 0;
  for (int i = 0; i < count; ++i) {
    if (i == warmUp) {
      settle(50);
      residentAtWarmUp = residentKiB();
    }
    const Row& row = rows[draw(random)];
    SCOPED_TRACE(std::to_string(i) + " " + row.scenario);
    EngineRun run(sim.url(), "SOAK-" + std::to_string(seed) + "-" + std::to_string(i),
                  std::string("sim:") + row.scenario, row.wrongKey ? "wrong-key" : kTestKey);
    ASSERT_TRUE(run.waitForResult(60000));
    settle(5);
    expectOneHonestEnd(run, row.result, row.failures);
    ++played[row.scenario];
    if (i >= warmUp && row.result != kTimeout) {
      openAtEnd = openFiles();
      openAtWarmUp = openAtWarmUp < 0 ? openAtEnd : openAtWarmUp;
    }
  }
  settle(50);
  std::string summary = std::to_string(count) + " transactions, seed " + std::to_string(seed) + ":";
  for (const auto& [name, n] : played) {
    summary += " " + name + " " + std::to_string(n);
  }
  summary += "; open files " + std::to_string(openAtWarmUp) + " -> " + std::to_string(openAtEnd) +
             "; resident KiB " + std::to_string(residentAtWarmUp) + " -> " + std::to_string(residentKiB());
  std::printf("[soak] %s\n", summary.c_str());
  // The connection of the last transaction may still be open; nothing more.
  EXPECT_LE(openAtEnd, openAtWarmUp + 1);
#if !defined(__SANITIZE_ADDRESS__)
  // Under AddressSanitizer freed memory is held back on purpose, so growth means nothing.
  EXPECT_LT(residentKiB() - residentAtWarmUp, 16 * 1024) << "KiB";
#endif
}

}  // namespace
}  // namespace kovrel
