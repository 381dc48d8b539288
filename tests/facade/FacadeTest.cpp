#include <gtest/gtest.h>

#include <KOVModule/KOVModuleQt.h>
#include <KOVModule/KOVTransaction.h>
#include <KOVModule/KOVWindowStyle.h>
#include <KOVModule/StatusView.h>

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QWidget>

#include "EngineFixture.h"

using namespace kovtest;

namespace {

// Notes, at each post, whether a status screen was already on view.
class WatchingSession : public KOVURLSession {
 public:
  WatchingSession(std::unique_ptr<KOVURLSession> inner, std::function<void()> onPost)
      : inner_(std::move(inner)), onPost_(std::move(onPost)) {}
  KOVRequestId post(const std::string& url, const std::string& body, double timeout, ResponseHandler done) override {
    onPost_();
    return inner_->post(url, body, timeout, std::move(done));
  }
  void cancel(KOVRequestId id) override { inner_->cancel(id); }
  void invalidateAndCancel() override { inner_->invalidateAndCancel(); }

 private:
  std::unique_ptr<KOVURLSession> inner_;
  std::function<void()> onPost_;
};

class Facade : public ::testing::Test {
 protected:
  void SetUp() override {
    parent.resize(800, 600);
    parent.show();
    KOVTransaction::setEngine(&engine);
    KOVTransaction::setWindowStyle(nullptr);
    KOVTransaction::setDebugMode(false);
    KOVTransaction::setDebugLogHandler(nullptr);
    auto factory = [this]() -> std::unique_ptr<KOVURLSession> {
      return std::make_unique<WatchingSession>(std::make_unique<FakeSession>(net, ++net->sessionsMade),
                                               [this] { screenShownAtPost.push_back(screen() && screen()->isVisible()); });
    };
    engine.setSessionFactory(factory);
  }
  void TearDown() override {
    KOVTransaction::setEngine(nullptr);
    KOVTransaction::setWindowStyle(nullptr);
  }
  StatusView* screen() { return parent.findChild<StatusView*>(); }
  void start(QWidget* on, KOVTransactionResultHandler handler = nullptr) {
    if (!handler) handler = [this](KOVTransactionResultDetails r) { results.push_back(r); };
    KOVTransaction::startTransaction(sampleDetails(), KOVTransactionTypePurchase, on, false, handler,
                                     [this](const std::optional<std::string>& r) {
                                       receipts.push_back(r);
                                       if (screen()) labelAtReceipt.push_back(screen()->firstLineLabel()->text());
                                     });
  }
  void answer(const std::string& body) { net->answer(net->last(), body); }

  WqKOV engine;
  std::shared_ptr<FakeNetwork> net = wireFakeNetwork(engine);
  QWidget parent;
  std::vector<bool> screenShownAtPost;
  std::vector<KOVTransactionResultDetails> results;
  std::vector<std::optional<std::string>> receipts;
  std::vector<QString> labelAtReceipt;
};

}  // namespace

TEST_F(Facade, ScreenIsUpBeforeTheFirstRequestAndMirrorsTheTerminal) {
  EXPECT_EQ(KOVTransaction::getModuleVersion(), "iOS 0.3.0-kov");
  start(&parent);
  ASSERT_EQ(screenShownAtPost, std::vector<bool>{true});
  ASSERT_NE(screen(), nullptr);
  EXPECT_TRUE(screen()->isModal() || screen()->windowModality() != Qt::NonModal);
  EXPECT_EQ(screen()->currentStyle(), KOVWindowStyle::getDefault());
  EXPECT_EQ(screen()->firstLineLabel()->text(), QStringLiteral("Initializing..."));

  answer(kCardScreen);
  EXPECT_EQ(screen()->firstLineLabel()->text(), QStringLiteral("INSERT CARD"));
  EXPECT_EQ(screen()->leftButton()->text(), QStringLiteral("CANCEL"));
  EXPECT_FALSE(screen()->rightButton()->isVisibleTo(screen()));

  // The signature step reaches the screen, then the host's handler.
  answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">NO</B2><Rcpt>R</Rcpt></Scr>");
  ASSERT_EQ(receipts.size(), 1u);
  EXPECT_EQ(receipts[0], "R\r\n");
  EXPECT_EQ(labelAtReceipt, std::vector<QString>{QStringLiteral("SIGNATURE OK?")});
  EXPECT_EQ(screen()->rightButton()->text(), QStringLiteral("NO"));
}

TEST_F(Facade, HostHearsTheResultBeforeTheScreenHasGone) {
  start(&parent, [this](KOVTransactionResultDetails r) {
    results.push_back(r);
    ASSERT_NE(screen(), nullptr) << "still there while the result is handed over";
  });
  StatusView* view = screen();
  ASSERT_NE(view, nullptr);
  QPointer<StatusView> watch = view;
  QSignalSpy dismissed(view, &StatusView::dismissed);
  QSignalSpy destroyed(view, &QObject::destroyed);
  answer(kCompleteApproved);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(dismissed.count(), 0) << "the dismissal has only begun";
  EXPECT_TRUE(dismissed.wait(3000));
  EXPECT_TRUE(watch.isNull() || destroyed.wait(3000)) << "a dismissed screen is deleted";
}

TEST_F(Facade, PressOnTheScreenGoesToTheEngine) {
  start(&parent);
  answer(kCardScreen);
  screen()->leftButton()->click();
  EXPECT_NE(net->last()->body.find("<TxnType>UI</TxnType><UiType>Bn</UiType><Name>B1</Name><Val>CANCEL</Val>"),
            std::string::npos)
      << net->last()->body;
}

TEST_F(Facade, StyleIsKeptByReferenceAndDebugSettingsApplyToTheNextStart) {
  auto style = KOVWindowStyle::getDefault()->clone();
  style->showLogo = false;
  KOVTransaction::setWindowStyle(style);
  std::vector<std::string> logged;
  KOVTransaction::setDebugMode(true);
  KOVTransaction::setDebugLogHandler([&](KOVTransactionLogEntryType, const std::string& e) { logged.push_back(e); });
  start(&parent);
  EXPECT_EQ(screen()->currentStyle(), style);
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_NE(logged[0].find("key=\"......\""), std::string::npos);
  KOVTransaction::setDebugMode(false);
  answer(kCardScreen);
  EXPECT_EQ(logged.size(), 3u) << "the running transaction keeps its debug settings";
}

TEST_F(Facade, RefusedEndpointReachesTheHostsLogBeforeAnyTransaction) {
  std::vector<std::string> logged;
  KOVTransaction::setDebugMode(true);
  KOVTransaction::setDebugLogHandler([&](KOVTransactionLogEntryType, const std::string& e) { logged.push_back(e); });
  EXPECT_FALSE(engine.setEndpointUrls("http://10.1.2.3/wqmi3/pos.aspx", "https://ok.example/wqmi3/pos.aspx"));
  EXPECT_EQ(logged, std::vector<std::string>{
                        "KOV endpoint refused: plain http is accepted only for a loopback host; use https."});
  EXPECT_EQ(engine.endpointUrl(true), kWqKOVUATUrl);
  KOVTransaction::setDebugMode(false);
}

TEST_F(Facade, NullResultHandlerIsRefusedAndNullParentRunsHeadless) {
  KOVTransaction::startTransaction(sampleDetails(), KOVTransactionTypePurchase, &parent, false, nullptr, nullptr);
  KOVTransactionRecoveryDetails recovery;
  KOVTransaction::recoverTransaction(recovery, &parent, false, nullptr, nullptr);
  EXPECT_TRUE(net->posts.empty());
  EXPECT_EQ(screen(), nullptr);

  start(nullptr);
  EXPECT_EQ(screen(), nullptr);
  answer("<Scr><DL1>SIGNATURE</DL1></Scr>");
  EXPECT_EQ(receipts.size(), 1u) << "the signature handler runs without a screen too";
  answer(kCompleteApproved);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultSucceeded);
}

TEST_F(Facade, RecoveryShowsTheScreenAndASecondStartGetsNoScreenOfItsOwn) {
  KOVTransactionRecoveryDetails recovery;
  recovery.userName = "merchant";
  recovery.key = "k";
  recovery.txnRef = "T-1";
  KOVTransaction::recoverTransaction(recovery, &parent, false,
                                     [this](KOVTransactionResultDetails r) { results.push_back(r); }, nullptr);
  ASSERT_NE(screen(), nullptr);
  start(&parent);
  net->queue->drain();
  EXPECT_EQ(parent.findChildren<StatusView*>().size(), 1);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_EQ(results[0].transactionResult, KOVTransactionResultExistingRequestInProgress);
  answer(kCompleteApproved);
  EXPECT_EQ(results.size(), 2u);
}
