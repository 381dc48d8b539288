// Random schedules of answers, failures, presses and late completions. Whatever the order,
// a transaction ends exactly once with the result its answers call for, keeps one poll
// loop, and sends nothing after its end.
#include <random>

#include "EngineFixture.h"

using namespace kovtest;

namespace {

bool isButton(const PostedRequest& p) { return p.body.find("<TxnType>UI</TxnType>") != std::string::npos; }

class Schedules : public EngineTest {
 protected:
  // Runs one transaction to its end; returns a description of the first broken promise.
  std::string runOne(std::mt19937& rng, bool skipSignature) {
    details->skipSignatureVerification = skipSignature;
    const std::size_t resultsBefore = results.size();
    net->posts.clear();  // each schedule looks at its own requests only
    start();
    int failuresInARow = 0;
    std::optional<KOVTransactionResult> expected;
    for (int step = 0; step < 200 && !expected; ++step) {
      if (loopRequestsInFlight() > 1) return "two loop requests in flight";
      std::vector<std::shared_ptr<PostedRequest>> loop, buttons;
      for (const auto& p : net->outstanding()) (isButton(*p) ? buttons : loop).push_back(p);
      const int action = static_cast<int>(rng() % 10);
      if (action == 0) {
        engine.sendButtonRequest(rng() % 2 ? "B1" : "B2", "OK");
        continue;
      }
      if ((action == 1 || loop.empty()) && !buttons.empty()) {
        auto press = buttons[rng() % buttons.size()];
        if (rng() % 2) {
          net->answer(press, "<Scr/>");
        } else {
          net->fail(press);
        }
        continue;
      }
      if (loop.empty()) return "no request in flight while the transaction runs";
      auto poll = loop.front();
      switch (rng() % 6) {
        case 0:
        case 1:
          net->fail(poll, rng() % 2 ? NSURLErrorTimedOut : NSURLErrorNetworkConnectionLost);
          if (++failuresInARow > 8) expected = KOVTransactionResultTimeout;
          break;
        case 2:
          net->answer(poll, kCardScreen, rng() % 4 ? 200 : 500);
          failuresInARow = 0;
          break;
        case 3:
          net->answer(poll, "<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><Tmo>5</Tmo></Scr>");
          failuresInARow = 0;
          break;
        case 4:
          net->answer(poll, "\x01garbage<");
          failuresInARow = 0;
          break;
        default:
          if (rng() % 3 == 0) {
            const bool approved = rng() % 2;
            net->answer(poll, approved ? kCompleteApproved
                                       : "<Scr><Result><Complete>1</Complete><RC>P8</RC></Result></Scr>");
            expected = approved ? KOVTransactionResultSucceeded : KOVTransactionResultUserKeyNotMatched;
          } else {
            net->answer(poll, "<Scr><DL1>PROCESSING</DL1><Tmo>0</Tmo></Scr>");
            failuresInARow = 0;
          }
      }
      if (!expected && results.size() > resultsBefore) return "a result before the end";
    }
    if (!expected) return {};  // a long schedule that did not end is not a failure
    if (results.size() != resultsBefore + 1) return "not exactly one result";
    if (results.back().transactionResult != *expected) return "wrong result";
    if (expected == KOVTransactionResultTimeout && results.back().response) return "timeout with a response";
    if (engine.isTransactionInProgress()) return "still in progress after the end";

    // Late completions of whatever is still outstanding change nothing.
    const std::size_t posts = net->posts.size();
    for (const auto& p : net->outstanding()) {
      if (rng() % 2) {
        net->answer(p, kCardScreen);
      } else {
        net->fail(p);
      }
    }
    engine.sendButtonRequest("B1", "late");
    net->queue->drain();
    if (net->posts.size() != posts) return "sent after the end";
    if (results.size() != resultsBefore + 1) return "a second result";
    return {};
  }
};

}  // namespace

TEST_F(Schedules, EveryScheduleEndsOnceAndKeepsOneLoop) {
  const unsigned seed = std::random_device{}();
  std::mt19937 rng(seed);
  int ended = 0;
  for (int i = 0; i < 10000; ++i) {
    const unsigned scheduleSeed = static_cast<unsigned>(rng());
    std::mt19937 schedule(scheduleSeed);
    const std::size_t before = results.size();
    const std::string broken = runOne(schedule, i % 2 == 0);
    ASSERT_TRUE(broken.empty()) << broken << " (run seed " << seed << ", schedule " << i << " seed "
                                << scheduleSeed << ")";
    if (results.size() > before) {
      ++ended;
    } else {
      // An unfinished schedule: end it so that the next one may start.
      for (int f = 0; f < 50 && engine.isTransactionInProgress(); ++f) {
        for (const auto& p : net->outstanding()) net->fail(p);
      }
      ASSERT_FALSE(engine.isTransactionInProgress()) << "seed " << scheduleSeed;
    }
  }
  EXPECT_GT(ended, 9000);
}
