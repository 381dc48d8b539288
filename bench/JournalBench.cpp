// What the journal costs a transaction: its three commits (sent before the first request,
// answered before the result handler, delivered after it), each synced to the disk, on a
// journal file in the folder given (the working folder by default: a tmpfs would flatter it).
// No journal write happens per poll; the poll cycle is measured by kov_bench_cycle. The anchor
// is the same number of plain synced writes.
//
//   kov_bench_journal [--folder DIR] [Google Benchmark options]
#include <benchmark/benchmark.h>

#include <KOVModule/KOVModuleJournal.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

std::string folder = ".";

void BM_JournalThreeCommitsPerTransaction(benchmark::State& state) {
  const std::string path = folder + "/kov-bench-journal-" + std::to_string(::getpid()) + ".db";
  std::string why;
  const auto journal = KOVSqliteJournal::open(path, &why);
  if (!journal) {
    state.SkipWithError(why.c_str());
    return;
  }
  KOVJournalEntry entry{"", "Purchase", "ST01", "12.50", "AUD", "merchant", "M1", {}, KOVJournalStageSent, {}, true, {}};
  KOVTransactionResultDetails result = KOVTransactionResultDetails::initWithResult(KOVTransactionResultSucceeded);
  result.authCode = "100001";
  result.receipt = std::string(40 * 26, 'r');
  int64_t number = 0;
  for (auto _ : state) {
    entry.txnRef = "B-" + std::to_string(++number);
    entry.stage = KOVJournalStageSent;
    entry.result.reset();
    journal->save(entry, nullptr);
    entry.stage = KOVJournalStageAnswered;
    entry.result = result;
    journal->save(entry, nullptr);
    entry.stage = KOVJournalStageDelivered;
    journal->save(entry, nullptr);
  }
  state.SetItemsProcessed(state.iterations());
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}
BENCHMARK(BM_JournalThreeCommitsPerTransaction)->UseRealTime()->Unit(benchmark::kMillisecond);

// The anchor: three 4 KiB writes to a file in the same folder, each followed by fdatasync, the
// least a durable commit costs on this disk.
void BM_ThreeSyncedWrites(benchmark::State& state) {
  const std::string path = folder + "/kov-bench-sync-" + std::to_string(::getpid());
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const std::string page(4096, 'p');
  for (auto _ : state) {
    for (int commit = 0; commit < 3; ++commit) {
      benchmark::DoNotOptimize(::pwrite(fd, page.data(), page.size(), 4096 * commit));
      ::fdatasync(fd);
    }
  }
  ::close(fd);
  ::unlink(path.c_str());
}
BENCHMARK(BM_ThreeSyncedWrites)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::strcmp(argv[i], "--folder") == 0) {
      folder = argv[i + 1];
      for (int j = i; j + 2 <= argc; ++j) argv[j] = argv[j + 2];
      argc -= 2;
      break;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
