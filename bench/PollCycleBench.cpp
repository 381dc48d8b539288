// CPU of one poll cycle inside the library, next to the floor of the same work done by
// hand: a bare expat parse of the same answer plus the next request written with one
// string append loop.
//
//   Cycle/Unfinished  parse a screen answer, dispatch it, report the screen, build and
//                     post the next status request (through the scripted fake session)
//   Cycle/Final       start a transaction (its request is built and posted), then parse
//                     the final answer, dispatch it and deliver the result
//   Floor/...         the same answer through expat without handlers, and the same
//                     request text appended piece by piece to one string
#include <benchmark/benchmark.h>

#include <KOVModule/WqKOV.h>

#include <expat.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "BenchDocuments.h"
#include "FakeSession.h"

namespace {

using kovbench::benchDetails;

// The floor: expat without handlers, and the request written by appends.
bool bareParse(std::string_view body) {
  XML_Parser parser = XML_ParserCreate(nullptr);
  const bool ok = XML_Parse(parser, body.data(), static_cast<int>(body.size()), 1) == XML_STATUS_OK;
  XML_ParserFree(parser);
  return ok;
}

std::string appendRequest(const std::vector<std::string_view>& pieces) {
  std::string out;
  for (std::string_view piece : pieces) {
    out.append(piece);
  }
  return out;
}

const std::vector<std::string_view>& statusRequestPieces() {
  static const std::vector<std::string_view> pieces{
      "<Scr action=\"", "doScrKOV", "\" user=\"", "merchant", "\" key=\"", "s3cret", "\">",
      "<TxnRef>", "bench-0001", "</TxnRef>", "<Station>", "st-01", "</Station>",
      "<TxnType>", "Status", "</TxnType>", "</Scr>"};
  return pieces;
}

const std::vector<std::string_view>& purchaseRequestPieces() {
  static const std::vector<std::string_view> pieces{
      "<Scr action=\"", "doScrKOV", "\" user=\"", "merchant", "\" key=\"", "s3cret", "\">",
      "<TxnRef>", "bench-0001", "</TxnRef>", "<Station>", "st-01", "</Station>",
      "<Amount>", "12.50", "</Amount>", "<Cur>", "AUD", "</Cur>", "<TxnType>", "Purchase", "</TxnType>",
      "<DeviceId>", "till-7", "</DeviceId>", "<PosName>", "Bench POS", "</PosName>",
      "<PosVersion>", "1.0", "</PosVersion>", "<VendorId>", "vendor", "</VendorId>",
      "<MRef>", "mref-1", "</MRef>", "</Scr>"};
  return pieces;
}

// The floor must write exactly what the engine sends, or the comparison is unfair.
void checkFloorMatchesEngine(const std::vector<std::string_view>& pieces, const std::string& engineText,
                             benchmark::State& state) {
  if (appendRequest(pieces) != engineText) {
    state.SkipWithError("the floor writes another document than the engine");
  }
}

void BM_Cycle_Unfinished(benchmark::State& state) {
  WqKOV engine;
  auto network = kovtest::wireFakeNetwork(engine);
  std::size_t screens = 0;
  engine.startTransaction(
      benchDetails(), KOVTransactionTypePurchase, true, false, nullptr,
      [&screens](KOVState, const std::optional<std::string>&, const std::string&, const std::string&,
                 const std::optional<std::string>&, const std::optional<std::string>&) { ++screens; },
      [](KOVTransactionResultDetails) {}, nullptr);
  const std::string& body = kovbench::unfinishedAnswer();
  network->answer(network->last(), body);  // the first status request is now in flight
  checkFloorMatchesEngine(statusRequestPieces(), network->last()->body, state);
  for (auto _ : state) {
    network->answer(network->last(), body);
    // Keep only the request in flight: the fake records every post.
    network->posts.erase(network->posts.begin(), network->posts.end() - 1);
  }
  if (screens != static_cast<std::size_t>(state.iterations()) + 1 || !engine.isTransactionInProgress()) {
    state.SkipWithError("the engine did not report every screen");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.counters["answer_bytes"] = static_cast<double>(body.size());
}

void BM_Floor_Unfinished(benchmark::State& state) {
  const std::string& body = kovbench::unfinishedAnswer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(bareParse(body));
    std::string request = appendRequest(statusRequestPieces());
    benchmark::DoNotOptimize(request.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

void BM_Cycle_Final(benchmark::State& state) {
  WqKOV engine;
  auto network = kovtest::wireFakeNetwork(engine);
  std::size_t results = 0;
  std::size_t receiptBytes = 0;
  auto details = benchDetails();
  const std::string& body = kovbench::finalAnswer();
  for (auto _ : state) {
    engine.startTransaction(details, KOVTransactionTypePurchase, true, false, nullptr, nullptr,
                            [&](KOVTransactionResultDetails result) {
                              ++results;
                              receiptBytes += result.receipt ? result.receipt->size() : 0;
                            },
                            nullptr);
    network->answer(network->last(), body);
    network->posts.clear();
  }
  if (results != static_cast<std::size_t>(state.iterations()) || engine.isTransactionInProgress() ||
      receiptBytes == 0) {
    state.SkipWithError("the engine did not deliver every result");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
  state.counters["answer_bytes"] = static_cast<double>(body.size());
}

void BM_Floor_Final(benchmark::State& state) {
  {
    WqKOV engine;
    auto network = kovtest::wireFakeNetwork(engine);
    engine.startTransaction(benchDetails(), KOVTransactionTypePurchase, true, false, nullptr, nullptr,
                            nullptr, nullptr);
    checkFloorMatchesEngine(purchaseRequestPieces(), network->last()->body, state);
  }
  const std::string& body = kovbench::finalAnswer();
  for (auto _ : state) {
    benchmark::DoNotOptimize(bareParse(body));
    std::string request = appendRequest(purchaseRequestPieces());
    benchmark::DoNotOptimize(request.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

}  // namespace

BENCHMARK(BM_Cycle_Unfinished);
BENCHMARK(BM_Floor_Unfinished);
BENCHMARK(BM_Cycle_Final);
BENCHMARK(BM_Floor_Final);

BENCHMARK_MAIN();
