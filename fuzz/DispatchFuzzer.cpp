// One transaction through the scripted fake session, driven by the fuzzer's bytes: each step
// answers or fails one outstanding request, or presses a button. After every step
// the engine's promises are checked:
//  - at most one result, and nothing posted after it;
//  - at most one loop request (the first request or a status poll) outstanding;
//  - while the transaction runs, something is outstanding that will carry it on;
//  - the merchant key, raw or escaped, in no log entry but the answers the service sent.
// When the bytes run out, every request fails until the transaction ends: it must end
// with one result within the retry budget.
#include <KOVModule/KOVXmlUtils.h>
#include <KOVModule/WqKOV.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string_view>
#include <memory>
#include <string>
#include <vector>

#include "FakeSession.h"

namespace {

constexpr const char* kKey = "Zq7&<k\"ey";        // needs escaping in every form
constexpr const char* kKeyEscaped = "Zq7&amp;&lt;k&quot;ey";

// The input is records split by 0x1E. The first record's first byte chooses the
// transaction (its type, whether a user name is set, whether the signature step is answered
// automatically); every other record is one step: its first byte is the operation (low three
// bits) and which outstanding request it acts on (the rest), its other bytes the answer's
// body or the button's label. A seed is a readable script of real answers.
constexpr char kRecordSeparator = '\x1e';

std::vector<std::string_view> splitRecords(std::string_view data) {
  std::vector<std::string_view> records;
  for (std::size_t start = 0, end = 0; start <= data.size(); start = end + 1) {
    end = std::min(data.find(kRecordSeparator, start), data.size());
    records.push_back(data.substr(start, end - start));
  }
  return records;
}

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

struct Run {
  WqKOV engine;
  std::shared_ptr<kovtest::FakeNetwork> network = kovtest::wireFakeNetwork(engine);
  std::vector<KOVTransactionResultDetails> results;
  std::size_t postsAtResult = 0;
  std::vector<std::pair<KOVTransactionLogEntryType, std::string>> log;
  bool labelsHoldKeyText = false;

  void check() {
    if (results.size() > 1) fail("more than one result");
    if (!results.empty() && network->posts.size() != postsAtResult) fail("a request was posted after the result");
    if (!results.empty() && engine.isTransactionInProgress()) fail("still in progress after its result");
    int loops = 0;
    for (const auto& request : network->outstanding()) loops += request->isButton() ? 0 : 1;
    if (loops > 1) fail("more than one loop request outstanding");
    if (engine.isTransactionInProgress() && network->outstanding().empty() && network->queue->pending.empty()) {
      fail("the transaction runs but nothing will carry it on");
    }
    for (const auto& [type, entry] : log) {
      if (type == KOVTransactionLogEntryResponseContent) continue;  // the service's own text
      // A button label is the operator's text: a label that spells the key is not a leak.
      if (type == KOVTransactionLogEntryRequestContent && labelsHoldKeyText &&
          entry.find("<TxnType>UI</TxnType>") != std::string::npos) {
        continue;
      }
      if (entry.find(kKey) != std::string::npos || entry.find(kKeyEscaped) != std::string::npos) {
        fail("the key is in a log entry");
      }
      if (type == KOVTransactionLogEntryRequestContent && entry.find("key=\"......\"") == std::string::npos) {
        fail("a request log entry without the masked key");
      }
    }
    log.clear();
  }
};

const int32_t kErrorCodes[] = {NSURLErrorTimedOut, NSURLErrorCannotConnectToHost, NSURLErrorNetworkConnectionLost,
                               NSURLErrorSecureConnectionFailed, NSURLErrorDataLengthExceedsMaximum,
                               NSURLErrorBadServerResponse, NSURLErrorCancelled, NSURLErrorUnknown};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const auto records = splitRecords(std::string_view(reinterpret_cast<const char*>(bytes), size));
  const auto setup = records[0].empty() ? 0u : static_cast<unsigned char>(records[0][0]);
  Run run;
  // The tests' purchase of 12.50 AUD by "merchant" at ST01, T-1, with a key to look for.
  auto details = kovtest::sampleDetails();
  if (setup & 0x10) details->userName.reset();
  details->key = kKey;
  details->skipSignatureVerification = (setup & 0x08) != 0;
  const auto type = static_cast<KOVTransactionType>((setup & 0x07) % 5);

  run.engine.startTransaction(
      details, type, true, true,
      [&run](KOVTransactionLogEntryType entryType, const std::string& entry) { run.log.emplace_back(entryType, entry); },
      nullptr,
      [&run](KOVTransactionResultDetails result) {
        run.results.push_back(std::move(result));
        run.postsAtResult = run.network->posts.size();
      },
      [](const std::optional<std::string>&) {});
  run.network->queue->drain();
  run.check();

  for (std::size_t r = 1; r < records.size(); ++r) {
    if (records[r].empty()) continue;
    const auto head = static_cast<unsigned char>(records[r][0]);
    const std::string body(records[r].substr(1));
    const auto outstanding = run.network->outstanding();
    const std::shared_ptr<kovtest::PostedRequest> request =
        outstanding.empty() ? nullptr : outstanding[(head >> 3) % outstanding.size()];
    switch (head & 0x07) {
      case 0:
      case 1:  // an answer
        if (request) run.network->answer(request, body);
        break;
      case 2:  // an HTTP error status with a body: an answer when it holds a screen
        if (request) run.network->answer(request, body, (head & 0x08) ? 404 : 500);
        break;
      case 3:  // a URL-layer failure
        if (request) run.network->fail(request, kErrorCodes[(head >> 3) % std::size(kErrorCodes)]);
        break;
      case 4:  // the operator presses a button (also when nothing is on screen)
        if (body.find("Zq7") != std::string::npos) run.labelsHoldKeyText = true;
        run.engine.sendButtonRequest((head & 0x08) ? "B2" : "B1",
                                     body.empty() ? std::nullopt : std::optional<std::string>(body));
        run.network->queue->drain();
        break;
      case 5:  // a body over the cap
        if (request) run.network->answer(request, std::string(kov::kMaxResponseBytes + 1, '<'));
        break;
      case 6:  // the answer arrives as data and an error at once
        if (request) {
          run.network->complete(request, body, KOVError{NSURLErrorDomain, NSURLErrorNetworkConnectionLost, "lost"});
        }
        break;
      default:  // a complete, approved answer
        if (request) {
          run.network->answer(request, "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC></Result></Scr>");
        }
        break;
    }
    run.check();
  }

  // Nothing answers any more: the retry budget (8 retries) must end the transaction.
  for (int round = 0; round < 64 && run.engine.isTransactionInProgress(); ++round) {
    for (const auto& pending : run.network->outstanding()) run.network->fail(pending);
    run.check();
  }
  if (run.results.size() != 1) fail("the transaction did not end with exactly one result");
  return 0;
}
