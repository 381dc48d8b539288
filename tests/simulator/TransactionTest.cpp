// The terminal's screen state machine, driven by a hand-moved clock.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "SimTransaction.h"

using kovsim::SimScenario;
using kovsim::SimTransaction;
using namespace std::chrono_literals;

namespace {

kovsim::SimTransactionInfo info() { return {"T1", "ST1", "Purchase", "12.50", "AUD", 7}; }

struct Shown {
  std::string line1;
  std::string button1;
  bool enabled1;
  std::string button2;
  bool enabled2;
  bool operator==(const Shown&) const = default;
};

Shown shown(const SimTransaction& txn) {
  const auto screen = txn.screen();
  return {screen.line1, screen.button1.label, screen.button1.enabled, screen.button2.label, screen.button2.enabled};
}

// Moves the clock from screen to screen and records each one until the transaction ends.
std::vector<Shown> runByClock(SimTransaction& txn, SimTransaction::Clock::time_point start) {
  std::vector<Shown> seen{shown(txn)};
  auto now = start;
  while (!txn.finished() && txn.nextChange()) {
    now = *txn.nextChange();
    EXPECT_TRUE(txn.advance(now));
    if (!txn.finished()) {
      seen.push_back(shown(txn));
    }
  }
  return seen;
}

}  // namespace

TEST(SimTransaction, ApproveShowsEveryScreenThenApproves) {
  const auto start = SimTransaction::Clock::time_point{};
  SimTransaction txn(info(), SimScenario::Approve, 1.0, start);
  EXPECT_EQ(txn.screen().line2, "PURCHASE       AUD 12.50");
  EXPECT_EQ(txn.nextChange(), start + SimTransaction::kCardTime);
  EXPECT_FALSE(txn.advance(start + SimTransaction::kCardTime - 1ms));

  const std::vector<Shown> expected{{"PRESENT/INSERT CARD", "CANCEL", true, "", false},
                                    {"SELECT ACCOUNT", "CHQ", true, "SAV", true},
                                    {"ENTER PIN", "CANCEL", true, "", false},
                                    {"PROCESSING", "", false, "", false}};
  EXPECT_EQ(runByClock(txn, start), expected);
  ASSERT_TRUE(txn.finished());
  const auto& result = txn.result();
  EXPECT_EQ(result.line1, "ACCEPTED");
  EXPECT_EQ(result.field("AP"), "1");
  EXPECT_EQ(result.field("RC"), "00");
  EXPECT_EQ(result.field("RT"), "APPROVED");
  EXPECT_EQ(result.field("AC"), "100007");
  EXPECT_EQ(result.field("CN"), "411111******1111");
  EXPECT_EQ(result.field("TR"), "SIM000007");
  EXPECT_EQ(result.field("RRN"), "000000000007");
  EXPECT_EQ(result.field("RcptW"), "24");
  EXPECT_EQ(result.field("Rcpt"),
            "KOV SIMULATOR           STATION ST1             REF T1                  PURCHASE       AUD 12.50"
            "VISA 411111******1111   ACCOUNT CHQ             APPROVED  AUTH 100007   ");
  EXPECT_FALSE(txn.nextChange());
}

TEST(SimTransaction, ClockCatchesUpAfterALateLookAndSpeedScalesIt) {
  const auto start = SimTransaction::Clock::time_point{};
  SimTransaction txn(info(), SimScenario::Approve, 10.0, start);
  EXPECT_EQ(txn.nextChange(), start + SimTransaction::kCardTime / 10);
  // Card and account screens are over after 350 ms at ten times the speed: PIN shows.
  EXPECT_TRUE(txn.advance(start + 350ms));
  EXPECT_EQ(txn.screen().line1, "ENTER PIN");
  EXPECT_TRUE(txn.advance(start + 10s));
  EXPECT_TRUE(txn.finished());
}

TEST(SimTransaction, PressesCancelChooseTheAccountOrAreIgnored) {
  const auto start = SimTransaction::Clock::time_point{};
  {
    SimTransaction txn(info(), SimScenario::Approve, 1.0, start);
    EXPECT_FALSE(txn.press("B2", start));  // not shown enabled
    EXPECT_FALSE(txn.press("B3", start));
    const auto before = txn.version();
    EXPECT_TRUE(txn.press("B1", start));
    EXPECT_GT(txn.version(), before);
    ASSERT_TRUE(txn.finished());
    EXPECT_EQ(txn.result().line1, "CANCELLED");
    EXPECT_EQ(txn.result().field("RC"), "TC");
    EXPECT_EQ(txn.result().field("CN"), "");  // no card was read
    EXPECT_FALSE(txn.press("B1", start));
  }
  {
    SimTransaction txn(info(), SimScenario::Approve, 1.0, start);
    const auto onAccount = start + SimTransaction::kCardTime;
    EXPECT_TRUE(txn.press("B2", onAccount));
    EXPECT_EQ(txn.screen().line1, "ENTER PIN");
    EXPECT_EQ(txn.nextChange(), onAccount + SimTransaction::kPinTime);
    EXPECT_TRUE(txn.advance(start + 1h));
    EXPECT_NE(txn.result().field("Rcpt").find("ACCOUNT SAV"), std::string::npos);
  }
  {
    SimTransaction txn(info(), SimScenario::Approve, 1.0, start);
    const auto onProcessing = start + SimTransaction::kCardTime + SimTransaction::kAccountTime +
                              SimTransaction::kPinTime;
    EXPECT_FALSE(txn.press("B1", onProcessing));
    EXPECT_EQ(txn.screen().line1, "PROCESSING");
  }
}

TEST(SimTransaction, ScenariosDeclineCancelAndAskForTheSignature) {
  const auto start = SimTransaction::Clock::time_point{};
  {
    SimTransaction txn(info(), SimScenario::Decline, 1.0, start);
    EXPECT_EQ(runByClock(txn, start).size(), 4u);
    EXPECT_EQ(txn.result().line1, "DECLINED");
    EXPECT_EQ(txn.result().field("AP"), "0");
    EXPECT_EQ(txn.result().field("RC"), "51");
    EXPECT_EQ(txn.result().field("AC"), "");
  }
  {
    SimTransaction txn(info(), SimScenario::Cancel, 1.0, start);
    EXPECT_TRUE(txn.advance(start + SimTransaction::kCardTime));
    EXPECT_EQ(txn.result().field("RC"), "TC");
  }
  for (const bool yes : {true, false}) {
    SimTransaction txn(info(), SimScenario::Signature, 1.0, start);
    txn.advance(start + 1h);
    ASSERT_FALSE(txn.finished());
    EXPECT_FALSE(txn.nextChange());  // waits for the operator
    const auto screen = txn.screen();
    EXPECT_EQ(shown(txn), (Shown{"SIGNATURE OK?", "YES", true, "NO", true}));
    ASSERT_TRUE(screen.receipt);
    EXPECT_EQ(screen.receiptWidth, 24);
    EXPECT_EQ(screen.receipt->size() % 24, 0u);
    EXPECT_NE(screen.receipt->find("SIGN: __________________"), std::string::npos);
    EXPECT_TRUE(txn.press(yes ? "B1" : "B2", start + 1h));
    EXPECT_EQ(txn.result().field("AP"), yes ? "1" : "0");
    EXPECT_EQ(txn.result().field("RC"), yes ? "00" : "S2");
    EXPECT_EQ(txn.result().line1, yes ? "ACCEPTED" : "DECLINED");
  }
}
