// A soak: many transactions in a row through one engine and one process against the
// simulator, each with a scenario drawn at random. Every transaction gets exactly one result,
// the result is the one the scenario played, and open files and memory do not grow.
// KOV_SOAK_COUNT sets the number (default 100), KOV_SOAK_SEED the draw.
#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <gtest/gtest.h>

#include <QDir>

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "EngineRun.h"
#include "QtTestSupport.h"
#include "Simulator.h"

namespace kovrel {
namespace {

struct Scenario {
  const char* name;
  int weight;
  KOVTransactionResult result;
  const char* reCo;  // nullptr: not looked at
};

// Time-outs are rarer than in life: each one waits out nine poll time-outs.
const std::vector<Scenario> kScenarios = {
    {"approve", 30, KOVTransactionResultSucceeded, "00"},
    {"decline", 14, KOVTransactionResultFailed, "51"},
    {"cancel", 10, KOVTransactionResultFailed, "TC"},
    {"signature", 10, KOVTransactionResultSucceeded, "00"},
    {"http500", 8, KOVTransactionResultSucceeded, "00"},
    {"garbage", 8, KOVTransactionResultSucceeded, "00"},
    {"empty", 8, KOVTransactionResultSucceeded, "00"},
    {"result-complete", 8, KOVTransactionResultSucceeded, nullptr},
    {"drop", 3, KOVTransactionResultTimeout, nullptr},
    {"stall", 1, KOVTransactionResultTimeout, nullptr},
};

int envInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoi(value) : fallback;
}

int openFiles() { return static_cast<int>(QDir("/proc/self/fd").entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }

long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

TEST(Soak, EveryTransactionGetsExactlyTheResultItsScenarioPlayed) {
  const int count = envInt("KOV_SOAK_COUNT", 100);
  const unsigned seed = static_cast<unsigned>(envInt("KOV_SOAK_SEED", 20261207));
  kovit::Simulator sim({"--speed", "100", "--tmo", "1", "--hold-ms", "20", "--key", kTestKey});
  ASSERT_TRUE(sim.running());

  WqKOV engine;
  KOVQtTransport::install(engine);
  ASSERT_TRUE(engine.setEndpointUrls(sim.url(), sim.url()));

  std::mt19937 random(seed);
  std::vector<int> weights;
  for (const auto& s : kScenarios) weights.push_back(s.weight);
  std::discrete_distribution<std::size_t> draw(weights.begin(), weights.end());

  std::map<std::string, int> played, matched;
  int openAtWarmUp = 0;
  long residentAtWarmUp = 0;
  const int warmUp = std::max(10, count / 10);
  for (int i = 0; i < count; ++i) {
    if (i == warmUp) {
      kovtest::settle(50);
      openAtWarmUp = openFiles();
      residentAtWarmUp = residentKiB();
    }
    const Scenario& scenario = kScenarios[draw(random)];
    const std::string ref = "SOAK-" + std::to_string(seed) + "-" + std::to_string(i);
    std::vector<KOVTransactionResultDetails> results;
    engine.startTransaction(purchaseDetails(ref, std::string("sim:") + scenario.name), KOVTransactionTypePurchase, true, false, nullptr, nullptr,
                            [&results](KOVTransactionResultDetails r) { results.push_back(std::move(r)); }, nullptr);
    ASSERT_TRUE(kovtest::waitUntil([&] { return !results.empty(); }, 60000)) << ref << " " << scenario.name;
    // A second result would come from a late answer or a second loop; give it a moment.
    kovtest::settle(5);
    ASSERT_EQ(results.size(), 1u) << ref;
    ++played[scenario.name];
    const auto& result = results[0];
    EXPECT_EQ(result.transactionResult, scenario.result) << ref << " " << scenario.name;
    if (scenario.reCo) {
      EXPECT_EQ(result.reCo, scenario.reCo) << ref << " " << scenario.name;
    }
    if (result.transactionResult == scenario.result) ++matched[scenario.name];
  }
  kovtest::settle(50);
  const int openAtEnd = openFiles();
  const long residentAtEnd = residentKiB();

  std::string summary = "transactions " + std::to_string(count) + " seed " + std::to_string(seed) + ";";
  for (const auto& [name, n] : played) summary += " " + name + " " + std::to_string(matched[name]) + "/" + std::to_string(n);
  summary += "; open files " + std::to_string(openAtWarmUp) + " -> " + std::to_string(openAtEnd);
  summary += "; resident KiB " + std::to_string(residentAtWarmUp) + " -> " + std::to_string(residentAtEnd);
  std::printf("[soak] %s\n", summary.c_str());
  RecordProperty("soak", summary);

  // The connection of the last transaction may still be open; nothing more.
  EXPECT_LE(openAtEnd, openAtWarmUp + 1);
#if !defined(__SANITIZE_ADDRESS__)
  // Under AddressSanitizer freed memory is held back on purpose, so growth means nothing.
  EXPECT_LT(residentAtEnd - residentAtWarmUp, 16 * 1024) << "KiB";
#endif
}

}  // namespace
}  // namespace kovrel
