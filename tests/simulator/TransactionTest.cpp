// The terminal's screen state machine, driven by a hand-moved clock.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "SimTransaction.h"

using kovsim::SimTerminal;
using kovsim::SimTransaction;
using namespace std::chrono_literals;

namespace {

const SimTransaction::Clock::time_point kStart{};

SimTransaction transaction(SimTerminal terminal, double speed = 1.0) {
  return SimTransaction({"T1", "ST1", "Purchase", "12.50", "AUD", 7}, {terminal}, speed, kStart);
}

// "LINE1 B1 B2", each button's label followed by + when it is enabled.
std::string shown(const SimTransaction& txn) {
  const auto screen = txn.screen();
  return screen.line1 + " " + screen.button1.label + (screen.button1.enabled ? "+" : "") + " " +
         screen.button2.label + (screen.button2.enabled ? "+" : "");
}

}  // namespace

TEST(SimTransaction, ApproveShowsEveryScreenAsTheClockMovesThenApproves) {
  SimTransaction txn = transaction(SimTerminal::Approve);
  EXPECT_EQ(txn.screen().line2, "PURCHASE       AUD 12.50");
  EXPECT_FALSE(txn.advance(kStart + SimTransaction::kCardTime - 1ms));
  std::vector<std::string> seen;
  while (!txn.finished()) {
    seen.push_back(shown(txn));
    ASSERT_TRUE(txn.nextChange());
    EXPECT_TRUE(txn.advance(*txn.nextChange()));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"PRESENT/INSERT CARD CANCEL+ ", "SELECT ACCOUNT CHQ+ SAV+",
                                            "ENTER PIN CANCEL+ ", "PROCESSING  "}));
  const auto& result = txn.result();
  EXPECT_EQ(result.line1, "ACCEPTED");
  EXPECT_EQ(result.field("AP"), "1");
  EXPECT_EQ(result.field("RC"), "00");
  EXPECT_EQ(result.field("AC"), "100007");
  EXPECT_EQ(result.field("TR"), "SIM000007");
  EXPECT_EQ(result.field("RRN"), "000000000007");
  EXPECT_EQ(result.field("Rcpt"),
            "KOV SIMULATOR           STATION ST1             REF T1                  PURCHASE       AUD 12.50"
            "VISA 411111******1111   ACCOUNT CHQ             APPROVED  AUTH 100007   ");
  EXPECT_FALSE(txn.nextChange());
}

TEST(SimTransaction, ClockCatchesUpAfterALateLookAndSpeedScalesIt) {
  SimTransaction txn = transaction(SimTerminal::Approve, 10.0);
  EXPECT_EQ(txn.nextChange(), kStart + SimTransaction::kCardTime / 10);
  // Card and account screens are over after 350 ms at ten times the speed: PIN shows.
  EXPECT_TRUE(txn.advance(kStart + 350ms));
  EXPECT_EQ(txn.screen().line1, "ENTER PIN");
  EXPECT_TRUE(txn.advance(kStart + 10s));
  EXPECT_TRUE(txn.finished());
}

TEST(SimTransaction, PressesCancelChooseTheAccountOrAreIgnored) {
  SimTransaction cancelled = transaction(SimTerminal::Approve);
  EXPECT_FALSE(cancelled.press("B2", kStart));  // not shown enabled
  EXPECT_FALSE(cancelled.press("B3", kStart));
  EXPECT_TRUE(cancelled.press("B1", kStart));
  ASSERT_TRUE(cancelled.finished());
  EXPECT_EQ(cancelled.result().field("RC"), "TC");
  EXPECT_EQ(cancelled.result().field("CN"), "");  // no card was read
  EXPECT_FALSE(cancelled.press("B1", kStart));

  SimTransaction savings = transaction(SimTerminal::Approve);
  const auto onAccount = kStart + SimTransaction::kCardTime;
  EXPECT_TRUE(savings.press("B2", onAccount));
  EXPECT_EQ(savings.screen().line1, "ENTER PIN");
  EXPECT_EQ(savings.nextChange(), onAccount + SimTransaction::kPinTime);
  EXPECT_TRUE(savings.advance(kStart + 1h));
  EXPECT_NE(savings.result().field("Rcpt").find("ACCOUNT SAV"), std::string::npos);

  SimTransaction processing = transaction(SimTerminal::Approve);
  EXPECT_FALSE(processing.press(
      "B1", kStart + SimTransaction::kCardTime + SimTransaction::kAccountTime + SimTransaction::kPinTime));
  EXPECT_EQ(processing.screen().line1, "PROCESSING");
}

struct Ending {
  SimTerminal terminal;
  const char* press;  // after an hour, when the terminal waits for it; nullptr: none
  const char* line1;
  const char* responseCode;
};

class SimTransactionEnding : public testing::TestWithParam<Ending> {};

TEST_P(SimTransactionEnding, HasItsResponseCode) {
  SimTransaction txn = transaction(GetParam().terminal);
  txn.advance(kStart + 1h);
  if (GetParam().press) {
    ASSERT_FALSE(txn.finished());
    EXPECT_FALSE(txn.nextChange());  // waits for the operator
    EXPECT_EQ(shown(txn), "SIGNATURE OK? YES+ NO+");
    EXPECT_EQ(txn.screen().receipt->size() % SimTransaction::kReceiptWidth, 0u);
    EXPECT_NE(txn.screen().receipt->find("SIGN: __________________"), std::string::npos);
    EXPECT_TRUE(txn.press(GetParam().press, kStart + 1h));
  }
  ASSERT_TRUE(txn.finished());
  EXPECT_EQ(txn.result().line1, GetParam().line1);
  EXPECT_EQ(txn.result().field("RC"), GetParam().responseCode);
  EXPECT_EQ(txn.result().field("AP"), GetParam().responseCode == std::string("00") ? "1" : "0");
}

INSTANTIATE_TEST_SUITE_P(Scenarios, SimTransactionEnding,
                         testing::Values(Ending{SimTerminal::Decline, nullptr, "DECLINED", "51"},
                                         Ending{SimTerminal::Cancel, nullptr, "CANCELLED", "TC"},
                                         Ending{SimTerminal::Signature, "B1", "ACCEPTED", "00"},
                                         Ending{SimTerminal::Signature, "B2", "DECLINED", "S2"}));
