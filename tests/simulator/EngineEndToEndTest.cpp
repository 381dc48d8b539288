// The library's engine against the simulator program, over loopback http. The simulator
// runs as its own process: the engine's answer parser keeps process-wide state and runs
// on this thread, so no server in this process may parse at the same time.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include <KOVModule/WqKOV.h>

#include "HttplibSession.h"
#include "SimProcess.h"

using namespace simtest;

namespace {

class EngineAgainstSimulator : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    program = std::make_unique<Program>(std::vector<std::string>{"--listen", "127.0.0.1:0", "--speed", "20", "--tmo",
                                                                 "1", "--hold-ms", "500", "--offline", "ST-OFF"},
                                        false);
    const std::string line = program->readLine(std::chrono::seconds(20));
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, std::regex(R"(kov-simulator listening on (http://\S+))"))) << line;
    url = match[1];
  }
  static void TearDownTestSuite() {
    program->signal(SIGTERM);
    EXPECT_EQ(program->wait(), 0);
    program.reset();
  }

  void SetUp() override {
    WqKOV& engine = WqKOV::get();
    engine.setMainQueue(queue);
    engine.setSessionFactory([queue = queue] { return std::make_unique<HttplibSession>(queue); });
    ASSERT_TRUE(engine.setEndpointUrls(url, url));
  }
  void TearDown() override {
    WqKOV::get().resetEndpointUrls();
    WqKOV::get().setSessionFactory(nullptr);
    WqKOV::get().setMainQueue(nullptr);
  }

  static std::shared_ptr<KOVTransactionDetails> details(const std::string& txnRef, const std::string& merchantRef = "",
                                                        const std::string& station = "ST1") {
    auto record = std::make_shared<KOVTransactionDetails>();
    record->userName = "merchant";
    record->key = "s3cret";
    record->stationId = station;
    record->amount = KOVDecimal::parse("12.50");
    record->currencyCode = "AUD";
    record->txnRef = txnRef;
    record->merchantRef = merchantRef;
    return record;
  }

  /// Runs a transaction to its result; the screen states seen go to states.
  std::optional<KOVTransactionResultDetails> run(std::shared_ptr<KOVTransactionDetails> record,
                                                 KOVTransactionType type = KOVTransactionTypePurchase,
                                                 std::function<void(KOVState)> onState = {}) {
    std::optional<KOVTransactionResultDetails> result;
    WqKOV::get().startTransaction(
        std::move(record), type, true, false, nullptr,
        [this, onState](KOVState state, const std::optional<std::string>&, const std::string&, const std::string&,
                        const std::optional<std::string>&, const std::optional<std::string>&) {
          states.push_back(state);
          if (onState) {
            onState(state);
          }
        },
        [&result](KOVTransactionResultDetails details) { result = std::move(details); },
        [this](const std::optional<std::string>& receipt) { signatureReceipts.push_back(receipt); });
    EXPECT_TRUE(queue->runUntil([&result] { return result.has_value(); }, std::chrono::seconds(60)));
    // Late completions of the ended transaction (cancelled polls) are dropped by the engine.
    queue->runUntil([] { return false; }, std::chrono::milliseconds(0));
    return result;
  }

  static inline std::unique_ptr<Program> program;
  static inline std::string url;
  std::shared_ptr<TestMainQueue> queue = std::make_shared<TestMainQueue>();
  std::vector<KOVState> states;
  std::vector<std::optional<std::string>> signatureReceipts;
};

}  // namespace

TEST_F(EngineAgainstSimulator, ApprovedPurchaseFillsTheResultRecordAndCanBeRecovered) {
  const auto result = run(details("E2E-approve"));
  ASSERT_TRUE(result);
  EXPECT_EQ(result->transactionResult, KOVTransactionResultSucceeded);
  EXPECT_EQ(result->reCo, "00");
  EXPECT_EQ(result->responseText, "APPROVED");
  EXPECT_EQ(result->maskedCardNumber, "411111******1111");
  EXPECT_EQ(result->cardName, "VISA");
  EXPECT_EQ(result->transactionDateTimeZone, "UTC");
  EXPECT_EQ(result->receiptLineWidth, 24);
  ASSERT_TRUE(result->receipt);
  EXPECT_EQ(result->receipt->substr(0, 26), "KOV SIMULATOR           \r\n");
  const std::vector<KOVState> expected{KOVStateAwaitingCardSwipe, KOVStateAwaitingAccountSelection,
                                       KOVStateAwaitingPINEntry, KOVStateProcessing};
  EXPECT_EQ(states, expected);

  std::optional<KOVTransactionResultDetails> recovered;
  WqKOV::get().recoverTransaction(KOVTransactionRecoveryDetails{"merchant", "s3cret", "ST1", "E2E-approve"}, true,
                                  false, nullptr, nullptr,
                                  [&recovered](KOVTransactionResultDetails details) { recovered = std::move(details); },
                                  nullptr);
  ASSERT_TRUE(queue->runUntil([&recovered] { return recovered.has_value(); }, std::chrono::seconds(30)));
  EXPECT_EQ(recovered->transactionResult, KOVTransactionResultSucceeded);
  EXPECT_EQ(recovered->authCode, result->authCode);
}

TEST_F(EngineAgainstSimulator, SignatureIsAnsweredByTheOperatorOrAutomatically) {
  const auto declined = run(details("E2E-sign-no", "sim:signature"), KOVTransactionTypePurchase, [](KOVState state) {
    if (state == KOVStateSignatureRequired) {
      WqKOV::get().sendButtonRequest("B2", std::string("NO"));
    }
  });
  ASSERT_TRUE(declined);
  EXPECT_EQ(declined->transactionResult, KOVTransactionResultFailed);
  EXPECT_EQ(declined->reCo, "S2");
  ASSERT_EQ(signatureReceipts.size(), 1u);
  ASSERT_TRUE(signatureReceipts[0]);
  EXPECT_NE(signatureReceipts[0]->find("SIGN: __________________\r\n"), std::string::npos);

  auto automatic = details("E2E-sign-auto", "sim:signature");
  automatic->skipSignatureVerification = true;
  const auto approved = run(automatic);
  ASSERT_TRUE(approved);
  EXPECT_EQ(approved->transactionResult, KOVTransactionResultSucceeded);
}

TEST_F(EngineAgainstSimulator, ServiceErrorsAndFailuresGiveTheirResultCodes) {
  auto wrongKey = details("E2E-wrong-key");
  wrongKey->key = "nope";
  EXPECT_EQ(run(wrongKey)->transactionResult, KOVTransactionResultUserKeyNotMatched);
  EXPECT_EQ(run(details("E2E-offline", "", "ST-OFF"))->transactionResult, KOVTransactionResultTerminalNotConnected);
  EXPECT_EQ(run(details("E2E-bad-type"), static_cast<KOVTransactionType>(7))->transactionResult,
            KOVTransactionResultInvalidTransactionType);
  // Every request is dropped: nine failures in a row end in the time-out result.
  EXPECT_EQ(run(details("E2E-drop", "sim:drop", "ST-DROP"))->transactionResult, KOVTransactionResultTimeout);
  // Every poll is held past the advertised Tmo of 1 s: the time-out result after nine polls.
  EXPECT_EQ(run(details("E2E-stall", "sim:stall", "ST-STALL"))->transactionResult, KOVTransactionResultTimeout);
  EXPECT_EQ(run(details("E2E-500", "sim:http500", "ST-500"))->transactionResult, KOVTransactionResultSucceeded);
  EXPECT_EQ(run(details("E2E-form", "sim:result-complete", "ST-FORM"))->transactionResult,
            KOVTransactionResultSucceeded);
}
