// The facade: one status screen per transaction, tied to the engine over the scripted network.
#include <gtest/gtest.h>

#include <KOVModule/KOVTransaction.h>
#include <KOVModule/StatusView.h>

#include <QSignalSpy>
#include <QTest>

#include <algorithm>

#include <unistd.h>

#include "FakeSession.h"
#include "KOVFacadeEngine.h"

namespace {

const char* kCardScreen = "<Scr><DL1>INSERT CARD</DL1><DL2>$12.50</DL2><B1 en=\"1\">CANCEL</B1><Tmo>45</Tmo></Scr>";
const char* kApproved = "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><AC>A1</AC></Result></Scr>";
using Results = std::vector<KOVTransactionResult>;

class Facade : public ::testing::Test {
 protected:
  Facade() {
    parent.show();
    kov::facade::setEngine(&engine);
    KOVTransaction::setPollFloor(0), KOVTransaction::setRetrySpacing(0);  // the fake clock stands still
    KOVTransaction::setDebugMode(true);
    KOVTransaction::setDebugLogHandler([this](KOVTransactionLogEntryType, const std::string& entry) {
      logged.push_back((screen() && screen()->isVisible() ? "[on screen] " : "") + entry);
    });
  }
  ~Facade() override {
    kov::facade::setEngine(nullptr), KOVTransaction::setWindowStyle(nullptr);
    KOVTransaction::setDebugMode(false), KOVTransaction::setDebugLogHandler(nullptr);
    KOVTransaction::setPollFloor(-1), KOVTransaction::setRetrySpacing(-1);
  }
  StatusView* screen() { return parent.findChild<StatusView*>(); }
  void start(QWidget* on) {
    KOVTransaction::startTransaction(
        kovtest::sampleDetails(), KOVTransactionTypePurchase, on, false,
        collect, [this](const std::optional<std::string>& r) {
          receipts.push_back(r.value_or("?") + (screen() ? screen()->rightButton()->text().toStdString() : ""));
        });
  }
  void answer(const std::string& body) { net->answer(net->last(), body); }
  KOVTransactionResultHandler collect = [this](auto r) { results.push_back(r.transactionResult); };

  WqKOV engine;
  std::shared_ptr<kovtest::FakeNetwork> net = kovtest::wireFakeNetwork(engine);
  QWidget parent;
  std::vector<std::string> logged, receipts;
  Results results;
};

TEST_F(Facade, ScreenIsUpBeforeTheFirstRequestMirrorsTheTerminalAndSendsPresses) {
  start(&parent);
  QPointer<StatusView> view = screen();
  ASSERT_EQ(logged.size(), 1u);  // the request, with the key masked, logged while the screen is already up
  EXPECT_TRUE(logged[0].starts_with("[on screen] ") && logged[0].find("key=\"......\"") != logged[0].npos);
  EXPECT_TRUE(view->currentStyle() == KOVWindowStyle::getDefault() && view->firstLineLabel()->text() == "Initializing...");
  KOVTransaction::setDebugMode(false);  // the running transaction keeps its settings
  answer(kCardScreen);
  EXPECT_EQ(logged.size(), 3u);
  const bool right = view->rightButton()->isVisibleTo(view);
  EXPECT_EQ(view->firstLineLabel()->text() + view->leftButton()->text() + (right ? "+B2" : ""), "INSERT CARDCANCEL");
  // The signature step reaches the screen first, then the host's handler.
  answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">NO</B2><Rcpt>R</Rcpt></Scr>");
  EXPECT_EQ(receipts, std::vector<std::string>{"R\r\nNO"});
  view->leftButton()->click();
  const std::string& sent = net->last()->body;
  EXPECT_NE(sent.find("<TxnType>UI</TxnType><UiType>Bn</UiType><Name>B1</Name><Val>YES</Val>"), sent.npos) << sent;
}

TEST_F(Facade, RefusalsReachTheHostsLogAndWithoutAParentItRunsHeadless) {
  EXPECT_FALSE(engine.setEndpointUrls("http://10.1.2.3/wqmi3/pos.aspx", "https://ok.example/wqmi3/pos.aspx"));
  EXPECT_EQ(std::exchange(logged, {}).size(), 1u) << "the engine's refusal, outside any transaction";
  KOVTransaction::startTransaction(kovtest::sampleDetails(), KOVTransactionTypePurchase, &parent, false, nullptr, {});
  KOVTransaction::recoverTransaction({}, &parent, false, nullptr, nullptr);
  EXPECT_EQ(logged, std::vector<std::string>(2, "KOV transaction refused: no result handler was given."));
  EXPECT_TRUE(net->posts.empty());
  start(nullptr);
  answer("<Scr><DL1>SIGNATURE</DL1></Scr>");
  answer(kApproved);
  EXPECT_EQ(screen(), nullptr);
  EXPECT_EQ(receipts.size(), 1u) << "the signature handler runs without a screen too";
  EXPECT_EQ(results, Results{KOVTransactionResultSucceeded});
}

TEST_F(Facade, RecoveryShowsTheStyledScreenASecondStartGetsNoneAndTheResultComesBeforeItGoes) {
  auto style = KOVWindowStyle::getDefault()->clone();
  KOVTransaction::setWindowStyle(style);
  KOVTransactionRecoveryDetails recovery;
  recovery.userName = "merchant", recovery.key = "k", recovery.txnRef = "T-1";
  KOVTransaction::recoverTransaction(recovery, &parent, false, collect, nullptr);
  QPointer<StatusView> view = screen();
  QSignalSpy dismissed(view.data(), &StatusView::dismissed);
  EXPECT_EQ(view->currentStyle(), style);  // by reference
  start(&parent);
  EXPECT_EQ(parent.findChildren<StatusView*>().size(), 1);
  answer(kApproved);
  EXPECT_EQ(results, (Results{KOVTransactionResultExistingRequestInProgress, KOVTransactionResultSucceeded}));
  EXPECT_EQ(dismissed.count(), 0) << "the host hears the result before the screen has gone";
  EXPECT_TRUE(dismissed.wait(3000) && QTest::qWaitFor([&] { return view.isNull(); }, 3000));
  EXPECT_EQ(results.size(), 2u) << "once";
}

TEST_F(Facade, JournalOpensOnlyAUsableFileAndKeepsAResultUntilAcknowledged) {
  std::string why;
  EXPECT_FALSE(KOVTransaction::setJournal("/nonexistent/journal.db", &why));
  EXPECT_EQ(why, "/nonexistent/journal.db: No such file or directory");
  const std::string path = testing::TempDir() + "kov-facade-journal-" + std::to_string(::getpid()) + ".db";
  ASSERT_TRUE(KOVTransaction::setJournal(path, &why)) << why;
  KOVTransaction::setAcknowledgedDelivery(true);
  EXPECT_FALSE(KOVTransaction::cancelTransaction()) << "nothing runs";
  start(nullptr);
  const auto pending = KOVTransaction::pendingTransactions();
  ASSERT_TRUE(pending && pending->size() == 1u);
  EXPECT_EQ(pending->front().txnRef, "T-1");
  answer(kApproved);
  EXPECT_EQ(results, Results{KOVTransactionResultSucceeded});
  EXPECT_EQ(KOVTransaction::lastTransactionOutcome().txnRef, "T-1");
  ASSERT_EQ(KOVTransaction::pendingTransactions()->size(), 1u) << "kept until the host acknowledges it";
  EXPECT_TRUE(KOVTransaction::acknowledge("T-1", &why)) << why;
  EXPECT_TRUE(KOVTransaction::pendingTransactions()->empty());
  EXPECT_TRUE(KOVTransaction::forget("T-1", &why)) << why;
  KOVTransaction::setAcknowledgedDelivery(false);
  ASSERT_TRUE(KOVTransaction::setJournal(""));
  for (const char* suffix : {"", "-wal", "-shm"}) ::unlink((path + suffix).c_str());
}

struct Said : kov::Speaker {
  void say(const std::string& text) override { said.push_back(text); }
  std::vector<std::string> said;
};

// Screens as the simulator plays them, each polled twice: every new screen and the result are
// said once, in order; Escape before the card screen presses its CANCEL when
// it comes; a host style that is hard to read is logged.
TEST_F(Facade, SpokenScreenSaysEachNewScreenOnceAndEscapeCancels) {
  auto said = std::make_shared<Said>();
  kov::facade::setSpeaker(said);
  KOVTransaction::setSpokenScreen(true);
  auto style = KOVWindowStyle::getDefault()->clone();
  style->buttonsColor = Qt::red;
  KOVTransaction::setWindowStyle(style);
  start(&parent);
  QTest::keyClick(screen(), Qt::Key_Escape);
  for (const char* screenAnswer : {kCardScreen, "<Scr><DL1>SELECT ACCOUNT</DL1><B1 en=\"1\">CHQ</B1><B2 en=\"1\">SAV</B2></Scr>"}) {
    answer(screenAnswer), answer(screenAnswer);
  }
  answer("<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><RT>APPROVED</RT></Result></Scr>");
  KOVTransaction::setSpokenScreen(false), kov::facade::setSpeaker(nullptr);
  // The card screen's CANCEL is pressed as it comes, for the Escape before it: it is not shown.
  EXPECT_EQ(said->said, (std::vector<std::string>{"SELECT ACCOUNT\nButtons: CHQ, SAV", "Transaction ended: APPROVED"}));
  EXPECT_EQ(std::count_if(net->posts.begin(), net->posts.end(),
                          [](const auto& p) { return p->body.find("<Name>B1</Name><Val>CANCEL</Val>") != p->body.npos; }),
            1) << "Escape pressed CANCEL when it appeared";
  EXPECT_EQ(std::count(logged.begin(), logged.end(),
                       "Window style: the button titles have a contrast of 4.00:1, below the 4.5:1 that text "
                       "of their size needs to be read with low vision."),
            1);
}

}  // namespace
