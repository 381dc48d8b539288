// The status screen: what the operator sees in each state and style, what a press sends, where
// the parts sit, how it closes; with its button and its resource bundle.
#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include <QAccessible>
#include <QApplication>
#include <QCloseEvent>
#include <QSignalSpy>
#include <QTest>

#include <KOVModule/StatusView.h>

#include "KOVContrast.h"

namespace {

struct Device : kov::DeviceInfo {
  Device(bool tablet, QRectF bar) : tablet(tablet), bar(bar) {}
  bool isTablet() const override { return tablet; }
  QRectF statusBarFrame() const override { return bar; }
  bool tablet;
  QRectF bar;
};

std::shared_ptr<KOVWindowStyle> restyled(bool logo, bool indicator, int radius = 0) {
  auto style = KOVWindowStyle::getDefault()->clone();
  style->showLogo = logo, style->showActivityIndicator = indicator, style->buttonsCornerRadius = radius;
  return style;
}
void card(StatusView& v) { v.updateStatus(KOVStateAwaitingCardSwipe, {}, "INSERT CARD", "$12.50", "CANCEL", {}); }
void signature(StatusView& v) { v.updateStatus(KOVStateSignatureRequired, "R\r\n", "SIGNATURE OK?", "", "YES", "NO"); }

// What the operator reads: line|line|left|right|indicator, and the presses sent.
std::string shown(const StatusView& v, const std::string& sent) {
  auto b = [](QPushButton* b) { return b->isHidden() ? "-" : "[" + b->text().toStdString() + "]"; };
  const auto* ind = v.activityIndicator();
  return v.firstLineLabel()->text().toStdString() + "|" + v.secondLineLabel()->text().toStdString() + "|" +
         b(v.leftButton()) + "|" + b(v.rightButton()) + "|" + (ind->isHidden() ? "hidden" : "shown") +
         (ind->IsPlayingAnimation() ? "+running" : "") + sent;
}
struct Steps {
  const char* name;
  std::function<void(StatusView&)> steps;
  const char* shown;
};
struct States : ::testing::TestWithParam<Steps> {};
auto byName = [](const auto& info) { return std::string(info.param.name); };

TEST_P(States, ShowExactlyWhatTheyWereGivenAndAPressSendsItsButtonAndLastTitle) {
  StatusView view;
  std::string sent;
  QObject::connect(&view, &StatusView::buttonPressed,
                   [&](const std::string& id, const std::optional<std::string>& t) { sent += " " + id + "=" + *t; });
  GetParam().steps(view);
  EXPECT_EQ(shown(view, sent), GetParam().shown);
}
INSTANTIATE_TEST_SUITE_P(
    View, States,
    ::testing::Values(
        Steps{"EmptyTitleShows", [](auto& v) { v.updateStatus({}, {}, "ERR", "Café €", {}, ""); },
              "ERR|Café €|-|[]|shown"},
        Steps{"PressWaits", [](auto& v) { v.applyStyle(nullptr), card(v), v.leftButton()->click(); },
              "INSERT CARD|$12.50|-|-|shown+running B1=CANCEL"},
        Steps{"UpdateEndsWait", [](auto& v) { v.applyStyle(nullptr), signature(v), v.rightButton()->click(), card(v); },
              "INSERT CARD|$12.50|[CANCEL]|-|hidden B2=NO"},
        Steps{"InitializingKeepsTitles",
              [](auto& v) { v.applyStyle(nullptr), card(v), v.showInitializing(), v.leftButtonClicked(); },
              "Initializing...||-|-|shown+running B1=CANCEL"},
        Steps{"EmptyTitleIsSent", [](auto& v) { v.updateStatus({}, {}, "A", "B", "", {}), v.leftButtonClicked(); },
              "A|B|-|-|shown B1="},
        Steps{"NoPressOnceDismissing", [](auto& v) { card(v), v.dismiss(), v.leftButtonClicked(); },
              "INSERT CARD|$12.50|[CANCEL]|-|shown"},
        Steps{"NoIndicatorEver", [](auto& v) { v.applyStyle(restyled(1, 0)), signature(v), v.rightButtonClicked(); },
              "SIGNATURE OK?||-|-|hidden B2=NO"}),
    byName);

struct Layout {
  const char* name;
  bool device, tablet;
  QRectF bar;
  int style;  // 0 none yet, 1 default, 2 without logo
  double header, centre;
  int width = 421;
};
struct Layouts : ::testing::TestWithParam<Layout> {};
TEST_P(Layouts, ConstantsFollowDeviceAndLogoAndThePartsSitByThem) {
  StatusView view;
  const Layout& d = GetParam();
  view.setDeviceInfo(d.device ? std::make_unique<Device>(d.tablet, d.bar) : nullptr);
  if (d.style) view.applyStyle(d.style == 1 ? nullptr : restyled(false, true));
  view.resize(d.width, 560), view.show();  // a layout pass
  EXPECT_EQ(std::tuple(view.isTablet(), view.headerHeightConstraint()->constant(),
                       view.detailsContainerCenterYConstraint()->constant()),
            std::tuple(d.tablet, d.header, d.centre));
  // A hidden band is not laid out; its height follows the constant all the same.
  EXPECT_EQ(view.headerView()->height(), d.header);
  if (!view.headerView()->isHidden()) {  // the logo stays below a phone's status bar
    EXPECT_EQ(std::pair(view.headerView()->geometry(), view.wqLogoImage()->y()),
              std::pair(QRect(0, 0, d.width, d.header), 8 + static_cast<int>(d.header) - 50));
  }
  EXPECT_EQ(view.activityIndicator()->geometry(), QRect(0, d.header - (d.style == 2 ? 50 : 0), d.width, 4));
  const QRect details = view.findChild<QWidget*>("detailsContainer")->geometry();
  const int width = std::min(d.width - 48, 520);  // 24 on each side, at most 520
  EXPECT_EQ(details, QRect((d.width - width) / 2, details.top(), width, details.height()));
  EXPECT_NEAR(details.top() - d.centre, 560 - details.bottom(), 2) << "centred below the band";
}
INSTANTIATE_TEST_SUITE_P(View, Layouts,
                         ::testing::Values(Layout{"Phone", true, false, {0, 0, 375, 44}, 1, 94, 94},
                                           Layout{"Landscape", true, false, {0, 0, 44, 812}, 1, 94, 94},
                                           Layout{"Tablet", true, true, {0, 0, 1024, 20}, 1, 50, 50, 1000},
                                           Layout{"NoLogo", true, false, {0, 0, 375, 44}, 2, 94, 0},
                                           Layout{"BeforeAnyStyle", true, false, {0, 0, 375, 44}, 0, 94, 0}),
                         byName);

// Text at twice the default size makes the lines and buttons grow instead of being cut (at the
// default size the screenshots show it).
TEST(TwiceTheText, GivesEveryLineAndButtonTheRoomItsTextNeedsInsideTheWindow) {
  auto style = KOVWindowStyle::getDefault()->clone();
  for (std::optional<QFont>* font : {&style->informationFont, &style->buttonsFont}) {
    font->value().setPixelSize(font->value().pixelSize() * 2);
  }
  StatusView view;
  view.applyStyle(style);
  view.updateStatus(KOVStateSignatureRequired, {}, "SIGNATURE OK?", "Check the signature on the receipt", "YES", "NO");
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  for (QLabel* line : {view.firstLineLabel(), view.secondLineLabel()}) {
    EXPECT_GE(line->height(), line->heightForWidth(line->width())) << line->text().toStdString();
  }
  for (QPushButton* button : {view.leftButton(), view.rightButton()}) {
    EXPECT_GE(button->height(), button->sizeHint().height()) << button->text().toStdString();
    EXPECT_GE(button->width(), button->sizeHint().width()) << button->text().toStdString();
  }
  const std::vector<QWidget*> parts{view.headerView(), view.firstLineLabel(), view.secondLineLabel(),
                                    view.leftButton(), view.rightButton()};
  auto area = [&view](QWidget* part) { return QRect(part->mapTo(&view, QPoint()), part->size()); };
  for (QWidget* part : parts) {
    EXPECT_TRUE(view.rect().contains(area(part))) << part->objectName().toStdString();
    for (QWidget* other : parts) {
      EXPECT_TRUE(part == other || !area(part).intersects(area(other)))
          << part->objectName().toStdString() << " overlaps " << other->objectName().toStdString();
    }
  }
}

// A host may delete any part, and the form's layout with its spacers; the screen then skips
// what is gone and goes on with the rest.
struct Gone {
  const char* name;
  std::function<void(StatusView&)> remove;
  bool laidOut;  // whether the details are still placed by the layout
};
struct DeletedParts : ::testing::TestWithParam<Gone> {};
TEST_P(DeletedParts, AreSkippedByEveryOperation) {
  StatusView view;
  GetParam().remove(view);
  view.applyStyle(nullptr), signature(view), view.resize(440, 560), view.show();
  view.leftButtonClicked(), view.viewWillLayoutSubviews(), card(view);
  QLabel* line = view.firstLineLabel();
  EXPECT_EQ(std::pair(line->text().toStdString(), line->mapTo(&view, QPoint()).y() > 0),
            std::pair(std::string("INSERT CARD"), GetParam().laidOut));
}
INSTANTIATE_TEST_SUITE_P(
    View, DeletedParts,
    ::testing::Values(
        Gone{"Widgets",
             [](StatusView& v) {
               for (QObject* part : std::initializer_list<QObject*>{v.headerView(), v.activityIndicator(),
                                                                    v.secondLineLabel(), v.leftButton(),
                                                                    v.rightButton()}) {
                 delete part;
               }
             },
             true},
        Gone{"Constraints",
             [](StatusView& v) {
               delete v.headerHeightConstraint(), delete v.activityIndicatorTopConstraint();
               delete v.detailsContainerCenterYConstraint();
             },
             true},
        Gone{"TheLayout", [](StatusView& v) { delete v.layout(); }, false}),
    byName);

TEST(Closing, OnlyDismissClosesTheScreenOnceAndNeverFromInsideTheCall) {
  for (bool visible : {true, false}) {
    StatusView view;
    view.applyStyle(nullptr);
    EXPECT_TRUE(view.isModal() && !(view.windowFlags() & Qt::WindowCloseButtonHint));
    QCloseEvent close;
    if (visible) {
      view.show();
      QTest::keyClick(&view, Qt::Key_Escape);
      view.reject();
      EXPECT_FALSE(view.close() || (QApplication::sendEvent(&view, &close) && close.isAccepted()) || !view.isVisible());
    }
    QSignalSpy dismissed(&view, &StatusView::dismissed);
    view.dismiss();
    EXPECT_FALSE(dismissed.count() || view.activityIndicator()->IsPlayingAnimation() ||
                 view.activityIndicator()->isTimerActive());
    EXPECT_TRUE(dismissed.wait(5000));
    view.dismiss(), QTest::qWait(visible ? 300 : 10);  // a second dismiss does nothing
    EXPECT_EQ(std::pair(view.isVisible(), dismissed.count()), std::pair(false, qsizetype(1)));
  }
}

// What a screen reader and the speaker are told, and where the focus goes: each step's
// announcements (said) and the focused part after it (the screen, or a button's title).
struct SaidSpeaker : kov::Speaker {
  void say(const std::string& text) override { said += "<" + text + ">"; }
  std::string said;
};
struct Telling {
  const char* name;
  std::function<void(StatusView&)> steps;
  const char* said;
  const char* focus;
};
struct Announcements : ::testing::TestWithParam<Telling> {};
TEST_P(Announcements, SayEachNewScreenOnceAndKeepTheFocusOffTheButtons) {
  StatusView view;
  auto speaker = std::make_shared<SaidSpeaker>();
  view.setSpeaker(speaker), view.applyStyle(nullptr), view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  std::string sent;
  QObject::connect(&view, &StatusView::buttonPressed, [&](const std::string& id, auto) { sent += " " + id; });
  QObject::connect(&view, &StatusView::cancelRequested, [&] { sent += " cancel"; });
  GetParam().steps(view);
  auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
  EXPECT_EQ(speaker->said + sent, GetParam().said);
  EXPECT_EQ(focused ? focused->text().toStdString() : QApplication::focusWidget() == &view ? "screen" : "?",
            GetParam().focus);
}
void tab(StatusView&) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); }
void key(Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); }
INSTANTIATE_TEST_SUITE_P(
    View, Announcements,
    ::testing::Values(
        Telling{"NothingBeforeTheFirstScreen", [](auto&) {}, "", "screen"},
        Telling{"ChangedButtonsAreANewScreen",
                [](auto& v) { card(v), v.updateStatus({}, {}, "INSERT CARD", "$12.50", {}, {}); },
                "<INSERT CARD\n$12.50\nButtons: CANCEL><INSERT CARD\n$12.50>", "screen"},
        Telling{"ANewScreenTakesTheFocusBack", [](auto& v) { signature(v), tab(v), card(v); },
                "<SIGNATURE OK?\nButtons: YES, NO><INSERT CARD\n$12.50\nButtons: CANCEL>", "screen"},
        Telling{"AnUnchangedPollLeavesIt", [](auto& v) { signature(v), tab(v), signature(v); },
                "<SIGNATURE OK?\nButtons: YES, NO>", "YES"},
        Telling{"EnterPressesTheFocusedButton", [](auto& v) { signature(v), tab(v), tab(v), key(Qt::Key_Return); },
                "<SIGNATURE OK?\nButtons: YES, NO> B2", "screen"},
        Telling{"SpaceToo", [](auto& v) { signature(v), tab(v), key(Qt::Key_Space); },
                "<SIGNATURE OK?\nButtons: YES, NO> B1", "screen"},
        Telling{"EnterOnTheScreenPressesNothing", [](auto& v) { signature(v), key(Qt::Key_Enter); },
                "<SIGNATURE OK?\nButtons: YES, NO>", "screen"},
        Telling{"EscapeAsksToCancel", [](auto& v) { card(v), tab(v), key(Qt::Key_Escape); },
                "<INSERT CARD\n$12.50\nButtons: CANCEL> cancel", "CANCEL"}),
    byName);

// The default style's texts and the buttons' edge against the minimums for low vision: text 4.5:1,
// large text (24 px, or 18.66 px bold) 3:1, a control's boundary 3:1. The button's fill as drawn
// at rest, under the pointer and held (a focus ring in the title's colour has the title's contrast).
TEST(DefaultStyle, MeetsTheContrastMinimums) {
  const KOVWindowStyle& s = *KOVWindowStyle::getDefault();
  const QColor fill = *s.buttonsColor, hovered = fill.lighter(110), held = fill.darker(125);
  const double lines = kov::Contrast::textMinimum(*s.informationFont);
  const double title = kov::Contrast::textMinimum(*s.buttonsFont);
  const std::tuple<const char*, QColor, QColor, double> pairs[] = {
      {"lines on the background", *s.informationTextColor, *s.backgroundColor, lines},
      {"title on the fill", *s.buttonsTextColor, fill, title},
      {"title under the pointer", *s.buttonsTextColor, hovered, title},
      {"title held", *s.buttonsTextColor, held, title},
      {"button on the background", hovered, *s.backgroundColor, 3.0}};
  for (const auto& [what, foreground, background, minimum] : pairs) {
    EXPECT_GE(kov::Contrast::ratio(foreground, background), minimum) << what;
  }
}

TEST(Contrast, FollowsTheFormulaAndNamesAHostStylesShortfall) {
  EXPECT_NEAR(kov::Contrast::ratio(Qt::white, Qt::red), 4.0, 0.005) << "the old default";
  EXPECT_EQ(std::pair(kov::Contrast::ratio(Qt::black, Qt::white), kov::Contrast::ratio(Qt::white, Qt::white)),
            std::pair(21.0, 1.0));
  auto style = KOVWindowStyle::getDefault()->clone();
  style->buttonsColor = Qt::red;
  EXPECT_EQ(kov::Contrast::textShortfalls(*style),
            std::vector<std::string>{"Window style: the button titles have a contrast of 4.00:1, below the 4.5:1 that "
                                     "text of their size needs to be read with low vision."});
  style->buttonsFont->setBold(true), style->buttonsFont->setPixelSize(19);  // large text: 3:1
  EXPECT_TRUE(kov::Contrast::textShortfalls(*style).empty());
}

// Reduced motion: the indicator is busy without a timer and shows a still segment.
TEST(ReducedMotion, KeepsTheIndicatorBusyAndStill) {
  auto style = KOVWindowStyle::getDefault()->clone();
  style->reduceMotion = true;
  StatusView view;
  view.applyStyle(style), view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  KOVHorzActivityIndicator* indicator = view.activityIndicator();
  QAccessibleInterface* seen = QAccessible::queryAccessibleInterface(indicator);
  EXPECT_EQ(std::tuple(indicator->IsPlayingAnimation(), indicator->isTimerActive(), seen->role(), seen->text(QAccessible::Name),
                       bool(seen->state().busy)),
            std::tuple(true, false, QAccessible::ProgressBar, QString::fromLatin1("Working"), true));
  const QImage still = indicator->grab().toImage();
  EXPECT_EQ(still.pixelColor(indicator->width() / 2, 2), QColor(Qt::red));
  EXPECT_NE(still.pixelColor(2, 2), QColor(Qt::red));
}

// A host style's fill and corner radius reach the buttons, which round their corners by it.
TEST(StatusButton, FillsWithTheStyleColourAndRoundsItsCorners) {
  auto style = restyled(true, true);
  style->buttonsColor = QColor(0, 128, 0);
  StatusView view;
  view.applyStyle(style), card(view), view.leftButton()->resize(160, 52);
  const QImage square = view.leftButton()->grab().toImage();
  style->buttonsCornerRadius = 8;
  view.applyStyle(style), card(view);
  const QImage rounded = view.leftButton()->grab().toImage();
  EXPECT_TRUE(square.pixelColor(0, 0) == QColor(0, 128, 0) && rounded.pixelColor(8, 8) == QColor(0, 128, 0));
  EXPECT_NE(rounded.pixelColor(0, 0), QColor(0, 128, 0));
}

}  // namespace
