#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <KOVModule/KOVDataUtils.h>
#include <KOVModule/KOVHorzActivityIndicator.h>
#include <KOVModule/KOVLayoutConstraint.h>
#include <KOVModule/StatusView.h>

#include "KOVStatusButton.h"

namespace {

constexpr int kBoundedWaitMs = 5000;

struct FakeDevice : KOVDeviceInfo {
  FakeDevice(bool tablet, QRectF frame) : tablet(tablet), frame(frame) {}
  bool isTablet() const override { return tablet; }
  QRectF statusBarFrame() const override { return frame; }
  bool tablet;
  QRectF frame;
};

QColor textColor(const QWidget* w) {
  return w->palette().color(QPalette::WindowText);
}

class StatusViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view = std::make_unique<StatusView>();
    view->resize(420, 560);
  }
  KOVStatusButton* button(QPushButton* b) { return qobject_cast<KOVStatusButton*>(b); }
  std::shared_ptr<KOVWindowStyle> plainStyle(bool logo, bool indicator) {
    auto style = std::make_shared<KOVWindowStyle>();
    style->showLogo = logo;
    style->showActivityIndicator = indicator;
    return style;
  }
  void showCardScreen() {
    view->updateStatus(KOVStateAwaitingCardSwipe, std::nullopt, "INSERT CARD", "$12.50", std::string("CANCEL"),
                       std::nullopt);
  }
  std::unique_ptr<StatusView> view;
};

TEST_F(StatusViewTest, FindsAllTenPartsOfItsLayout) {
  EXPECT_NE(view->firstLineLabel(), nullptr);
  EXPECT_NE(view->secondLineLabel(), nullptr);
  EXPECT_NE(button(view->leftButton()), nullptr);
  EXPECT_NE(button(view->rightButton()), nullptr);
  EXPECT_NE(view->headerView(), nullptr);
  EXPECT_NE(view->headerHeightConstraint(), nullptr);
  EXPECT_NE(view->activityIndicator(), nullptr);
  EXPECT_NE(view->activityIndicatorTopConstraint(), nullptr);
  EXPECT_NE(view->detailsContainerCenterYConstraint(), nullptr);
  EXPECT_NE(view->wqLogoImage(), nullptr);
  EXPECT_TRUE(view->isModal());
  EXPECT_FALSE(view->windowFlags() & Qt::WindowCloseButtonHint);
}

TEST_F(StatusViewTest, DefaultStyleLooksAsListed) {
  view->applyStyle(nullptr);
  EXPECT_EQ(view->currentStyle(), KOVWindowStyle::getDefault());  // the shared object itself

  EXPECT_FALSE(view->headerView()->isHidden());
  EXPECT_EQ(view->palette().color(QPalette::Window), QColor(Qt::white));
  for (QLabel* label : {view->firstLineLabel(), view->secondLineLabel()}) {
    EXPECT_EQ(textColor(label), QColor(Qt::black));
    EXPECT_EQ(label->font().pixelSize(), 19);
    EXPECT_EQ(label->font(), *KOVWindowStyle::getDefault()->informationFont);
  }
  for (QPushButton* b : {view->leftButton(), view->rightButton()}) {
    EXPECT_EQ(button(b)->fillColor(), QColor(Qt::red));
    EXPECT_EQ(b->palette().color(QPalette::ButtonText), QColor(Qt::white));
    EXPECT_EQ(b->font().pixelSize(), 17);
    EXPECT_EQ(button(b)->cornerRadius(), 0.0);
  }
  KOVHorzActivityIndicator* indicator = view->activityIndicator();
  EXPECT_EQ(indicator->lineColor(), QColor(Qt::red));
  EXPECT_EQ(indicator->lineWidth(), 2.0f);
  QColor track(Qt::red);
  track.setAlphaF(0.3f);
  EXPECT_EQ(indicator->trackColor(), track);

  // Initializing.
  EXPECT_EQ(view->firstLineLabel()->text(), QStringLiteral("Initializing..."));
  EXPECT_EQ(view->secondLineLabel()->text(), QString());
  EXPECT_TRUE(view->leftButton()->isHidden());
  EXPECT_TRUE(view->rightButton()->isHidden());
  EXPECT_FALSE(indicator->isHidden());
  EXPECT_TRUE(indicator->IsPlayingAnimation());
  EXPECT_EQ(view->activityIndicatorTopConstraint()->constant(), 0.0);
}

TEST_F(StatusViewTest, PlainStyleLeavesTheToolkitDefaultsAndARedIndicator) {
  auto style = plainStyle(false, false);
  style->buttonsCornerRadius = 8;
  view->applyStyle(style);
  EXPECT_EQ(view->currentStyle(), style);

  EXPECT_TRUE(view->headerView()->isHidden());
  EXPECT_TRUE(view->activityIndicator()->isHidden());
  EXPECT_FALSE(view->activityIndicator()->IsPlayingAnimation());
  EXPECT_EQ(view->activityIndicator()->lineColor(), QColor::fromRgbF(1.0f, 0.0f, 0.0f, 1.0f));
  const QPalette appPalette = QApplication::palette(view->firstLineLabel());
  EXPECT_EQ(textColor(view->firstLineLabel()), appPalette.color(QPalette::WindowText));
  EXPECT_EQ(view->firstLineLabel()->font(), QApplication::font(view->firstLineLabel()));
  EXPECT_EQ(view->palette().color(QPalette::Window), QApplication::palette(view.get()).color(QPalette::Window));
  for (QPushButton* b : {view->leftButton(), view->rightButton()}) {
    EXPECT_FALSE(button(b)->fillColor().has_value());
    EXPECT_EQ(b->palette().color(QPalette::ButtonText), QApplication::palette(b).color(QPalette::ButtonText));
    EXPECT_EQ(button(b)->cornerRadius(), 8.0);
  }

  // A later style with values replaces the toolkit defaults; a plain one gives them back.
  auto coloured = plainStyle(true, true);
  coloured->informationTextColor = QColor(10, 20, 30);
  coloured->buttonsColor = QColor(40, 50, 60);
  view->applyStyle(coloured);
  EXPECT_EQ(textColor(view->secondLineLabel()), QColor(10, 20, 30));
  EXPECT_EQ(button(view->rightButton())->fillColor(), QColor(40, 50, 60));
  view->applyStyle(style);
  EXPECT_EQ(textColor(view->secondLineLabel()), appPalette.color(QPalette::WindowText));
  EXPECT_FALSE(button(view->rightButton())->fillColor().has_value());
}

TEST_F(StatusViewTest, UpdatesShowExactlyTheLinesAndButtonsGiven) {
  view->applyStyle(nullptr);
  showCardScreen();
  EXPECT_EQ(view->firstLineLabel()->text(), QStringLiteral("INSERT CARD"));
  EXPECT_EQ(view->secondLineLabel()->text(), QStringLiteral("$12.50"));
  EXPECT_FALSE(view->leftButton()->isHidden());
  EXPECT_EQ(view->leftButton()->text(), QStringLiteral("CANCEL"));
  EXPECT_TRUE(view->rightButton()->isHidden());
  EXPECT_TRUE(view->activityIndicator()->isHidden());
  EXPECT_FALSE(view->activityIndicator()->IsPlayingAnimation());

  // The next update replaces everything; state and receipt change nothing on screen.
  view->updateStatus(KOVStateSignatureRequired, std::string("RECEIPT\r\n"), "SIGNATURE OK?", "", std::string("YES"),
                     std::string("NO"));
  EXPECT_EQ(view->firstLineLabel()->text(), QStringLiteral("SIGNATURE OK?"));
  EXPECT_EQ(view->secondLineLabel()->text(), QString());
  EXPECT_EQ(view->leftButton()->text(), QStringLiteral("YES"));
  EXPECT_EQ(view->rightButton()->text(), QStringLiteral("NO"));
  EXPECT_FALSE(view->rightButton()->isHidden());
  EXPECT_TRUE(view->activityIndicator()->isHidden());

  // An empty title is a visible button with an empty title.
  view->updateStatus(KOVStateError, std::nullopt, "ERROR", "Café €", std::nullopt, std::string(""));
  EXPECT_TRUE(view->leftButton()->isHidden());
  EXPECT_FALSE(view->rightButton()->isHidden());
  EXPECT_EQ(view->rightButton()->text(), QString());
  EXPECT_EQ(view->secondLineLabel()->text(), QStringLiteral("Café €"));

  // Initializing hides both buttons but keeps their titles.
  view->showInitializing();
  EXPECT_TRUE(view->leftButton()->isHidden());
  EXPECT_TRUE(view->rightButton()->isHidden());
  EXPECT_EQ(view->rightButtonTitle(), std::string(""));
  EXPECT_FALSE(view->leftButtonTitle().has_value());
}

class StatusViewPress : public StatusViewTest {
 protected:
  void SetUp() override {
    StatusViewTest::SetUp();
    QObject::connect(view.get(), &StatusView::buttonPressed,
                     [this](const std::string& id, const std::optional<std::string>& title) {
                       presses.emplace_back(id, title);
                     });
    view->show();
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> presses;
};

TEST_F(StatusViewPress, LeftPressWaitsAndSendsB1WithTheLastTitle) {
  view->applyStyle(nullptr);
  showCardScreen();
  QTest::mouseClick(view->leftButton(), Qt::LeftButton);

  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(presses[0].first, "B1");
  EXPECT_EQ(presses[0].second, std::string("CANCEL"));
  // Waiting after a press: lines kept, no buttons, the indicator running from its start.
  EXPECT_EQ(view->firstLineLabel()->text(), QStringLiteral("INSERT CARD"));
  EXPECT_TRUE(view->leftButton()->isHidden());
  EXPECT_TRUE(view->rightButton()->isHidden());
  EXPECT_FALSE(view->activityIndicator()->isHidden());
  EXPECT_TRUE(view->activityIndicator()->IsPlayingAnimation());
  EXPECT_TRUE(view->activityIndicator()->isTimerActive());
  EXPECT_EQ(view->leftButtonTitle(), std::string("CANCEL"));

  // The next update leaves the waiting state.
  showCardScreen();
  EXPECT_FALSE(view->leftButton()->isHidden());
  EXPECT_TRUE(view->activityIndicator()->isHidden());
  EXPECT_FALSE(view->activityIndicator()->isTimerActive());

  // Once the screen is being dismissed a press sends nothing.
  view->dismiss();
  view->leftButtonClicked();
  EXPECT_EQ(presses.size(), 1u);
}

TEST_F(StatusViewPress, RightPressSendsB2AndAnEmptyTitleAsIs) {
  view->applyStyle(plainStyle(true, false));
  view->updateStatus(KOVStateSignatureRequired, std::nullopt, "SIGNATURE OK?", "", std::string("YES"),
                     std::string(""));
  QTest::mouseClick(view->rightButton(), Qt::LeftButton);
  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(presses[0].first, "B2");
  EXPECT_EQ(presses[0].second, std::string(""));
  // Without the indicator in the style, a press never starts it.
  EXPECT_TRUE(view->activityIndicator()->isHidden());
  EXPECT_FALSE(view->activityIndicator()->IsPlayingAnimation());
}

TEST_F(StatusViewTest, HeaderAndCentreConstantsFollowDeviceAndLogo) {
  view->applyStyle(nullptr);
  // Before any layout pass after the style, nothing is offset.
  view->setDeviceInfo(std::make_unique<FakeDevice>(false, QRectF(0, 0, 375, 44)));
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 94.0);
  EXPECT_EQ(view->detailsContainerCenterYConstraint()->constant(), 94.0);
  // Landscape: the bar's thickness is its smaller side.
  view->setDeviceInfo(std::make_unique<FakeDevice>(false, QRectF(0, 0, 44, 812)));
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 94.0);
  // Hidden status bar.
  view->setDeviceInfo(std::make_unique<FakeDevice>(false, QRectF()));
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 50.0);
  EXPECT_EQ(view->detailsContainerCenterYConstraint()->constant(), 50.0);
  // A tablet ignores the status bar.
  view->setDeviceInfo(std::make_unique<FakeDevice>(true, QRectF(0, 0, 1024, 20)));
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 50.0);
  EXPECT_EQ(view->detailsContainerCenterYConstraint()->constant(), 50.0);
  EXPECT_TRUE(view->isTablet());

  // Logo off: no centre offset, and the indicator lifted into the band's place.
  view->setDeviceInfo(std::make_unique<FakeDevice>(false, QRectF(0, 0, 375, 44)));
  view->applyStyle(plainStyle(false, true));
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 94.0);
  EXPECT_EQ(view->detailsContainerCenterYConstraint()->constant(), 0.0);
  EXPECT_EQ(view->activityIndicatorTopConstraint()->constant(), -50.0);

  // The layout honours the constants: on the phone the indicator sits just under the bar.
  view->show();
  EXPECT_EQ(view->activityIndicator()->geometry().top(), 44);
  view->applyStyle(nullptr);
  view->resize(421, 560);  // a layout pass
  EXPECT_EQ(view->headerView()->geometry(), QRect(0, 0, 421, 94));
  EXPECT_EQ(view->activityIndicator()->geometry().top(), 94);
  EXPECT_GE(view->firstLineLabel()->mapTo(view.get(), QPoint(0, 0)).y(), 94);

  // A desktop: no status bar, not a tablet.
  view->setDeviceInfo(nullptr);
  EXPECT_FALSE(view->isTablet());
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 50.0);
  EXPECT_EQ(statusBarHeight(), 0.0);
}

TEST_F(StatusViewTest, CentreIsZeroBeforeAnyStyle) {
  view->setDeviceInfo(std::make_unique<FakeDevice>(false, QRectF(0, 0, 375, 44)));
  view->viewWillLayoutSubviews();
  EXPECT_EQ(view->headerHeightConstraint()->constant(), 94.0);
  EXPECT_EQ(view->detailsContainerCenterYConstraint()->constant(), 0.0);
}

TEST_F(StatusViewTest, UserCannotCloseItOnlyDismissDoes) {
  view->applyStyle(nullptr);
  view->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(view.get()));
  QTest::keyClick(view.get(), Qt::Key_Escape);
  EXPECT_TRUE(view->isVisible());
  EXPECT_FALSE(view->close());
  EXPECT_TRUE(view->isVisible());
  QCloseEvent close;
  QApplication::sendEvent(view.get(), &close);
  EXPECT_FALSE(close.isAccepted());
  view->reject();
  EXPECT_TRUE(view->isVisible());

  QSignalSpy dismissed(view.get(), &StatusView::dismissed);
  view->dismiss();  // returns at once; the fade runs on the event loop
  EXPECT_EQ(dismissed.count(), 0);
  EXPECT_FALSE(view->activityIndicator()->IsPlayingAnimation());
  EXPECT_FALSE(view->activityIndicator()->isTimerActive());
  ASSERT_TRUE(dismissed.wait(kBoundedWaitMs));
  EXPECT_FALSE(view->isVisible());
  view->dismiss();  // once only
  EXPECT_EQ(dismissed.count(), 1);
}

TEST_F(StatusViewTest, DismissingAHiddenScreenFinishesAtOnce) {
  view->applyStyle(nullptr);
  QSignalSpy dismissed(view.get(), &StatusView::dismissed);
  view->dismiss();
  EXPECT_FALSE(view->activityIndicator()->IsPlayingAnimation());
  EXPECT_EQ(dismissed.count(), 0);  // never from inside the call
  EXPECT_TRUE(dismissed.wait(kBoundedWaitMs));
}

TEST_F(StatusViewTest, MissingPartsAreSkipped) {
  delete view->leftButton();
  delete view->firstLineLabel();
  delete view->headerView();  // takes the logo with it
  delete view->activityIndicator();
  delete view->headerHeightConstraint();
  delete view->activityIndicatorTopConstraint();
  EXPECT_EQ(view->leftButton(), nullptr);
  EXPECT_EQ(view->wqLogoImage(), nullptr);
  EXPECT_EQ(view->activityIndicator(), nullptr);

  view->setDeviceInfo(std::make_unique<FakeDevice>(false, QRectF(0, 0, 375, 44)));
  view->applyStyle(nullptr);
  EXPECT_EQ(view->secondLineLabel()->text(), QString());
  view->show();
  view->resize(400, 500);
  EXPECT_EQ(view->detailsContainerCenterYConstraint()->constant(), 94.0);
  view->updateStatus(KOVStateSignatureRequired, std::nullopt, "SIGNATURE OK?", "sign", std::string("YES"),
                     std::string("NO"));
  EXPECT_EQ(view->secondLineLabel()->text(), QStringLiteral("sign"));
  EXPECT_EQ(view->rightButton()->text(), QStringLiteral("NO"));
  view->leftButtonClicked();  // no engine transaction runs: nothing is sent, nothing breaks
  EXPECT_TRUE(view->rightButton()->isHidden());
}

TEST_F(StatusViewTest, LogoIsLoadedOncePerProcess) {
  const QImage& logo = StatusView::cachedLogo();
  ASSERT_FALSE(logo.isNull());
  EXPECT_EQ(logo.size(), QSize(240, 60));
  const qint64 key = logo.cacheKey();
  ASSERT_FALSE(view->wqLogoImage()->pixmap().isNull());
  EXPECT_EQ(view->wqLogoImage()->pixmap().deviceIndependentSize(), QSizeF(120, 30));

  StatusView second;
  EXPECT_EQ(StatusView::cachedLogo().cacheKey(), key);
  EXPECT_FALSE(second.wqLogoImage()->pixmap().isNull());
}

TEST_F(StatusViewTest, IndicatorStopsWhenTheScreenGoesAway) {
  view->applyStyle(nullptr);
  view->show();
  EXPECT_TRUE(view->activityIndicator()->isTimerActive());
  view->hide();
  EXPECT_FALSE(view->activityIndicator()->isTimerActive());
  view->show();
  EXPECT_TRUE(view->activityIndicator()->isTimerActive());

  QPointer<KOVHorzActivityIndicator> indicator = view->activityIndicator();
  view.reset();
  EXPECT_TRUE(indicator.isNull());
}

}  // namespace

namespace {

TEST(DataUtils, FindsTheBundleAndOnlyItsImages) {
  EXPECT_EQ(KOVDataUtils::FrameworkBundle(), QStringLiteral(":/KOVModuleResources.bundle"));
  EXPECT_FALSE(KOVDataUtils::ImageFromBundle(QStringLiteral("tarnfeld")).isNull());
  EXPECT_TRUE(KOVDataUtils::ImageFromBundle(QStringLiteral("missing")).isNull());
  EXPECT_TRUE(KOVDataUtils::ImageFromBundle(QString()).isNull());
}

TEST(StatusButton, FillsWithTheStyleColourAndRoundsItsCorners) {
  KOVStatusButton button;
  button.resize(160, 52);
  button.setText(QStringLiteral("YES"));
  button.setFillColor(QColor(0, 128, 0));
  QPalette palette = button.palette();
  palette.setColor(QPalette::ButtonText, QColor(255, 255, 0));
  button.setPalette(palette);

  const QImage square = button.grab().toImage();
  EXPECT_EQ(square.pixelColor(0, 0), QColor(0, 128, 0));
  EXPECT_EQ(square.pixelColor(10, 26), QColor(0, 128, 0));
  bool titleDrawn = false;  // some pixel of the title carries the text colour
  for (int x = 40; x < 120 && !titleDrawn; ++x) {
    for (int y = 10; y < 42 && !titleDrawn; ++y) titleDrawn = square.pixelColor(x, y) == QColor(255, 255, 0);
  }
  EXPECT_TRUE(titleDrawn);

  button.setCornerRadius(8);
  const QImage rounded = button.grab().toImage();
  EXPECT_NE(rounded.pixelColor(0, 0), QColor(0, 128, 0));
  EXPECT_EQ(rounded.pixelColor(8, 8), QColor(0, 128, 0));
}

}  // namespace
