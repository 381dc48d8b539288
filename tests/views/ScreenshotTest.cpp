// The status screen's look at its default size, compared pixel by pixel with the reference
// images in tests/views/reference. Set KOV_WRITE_REFERENCES=1 to write them again after an
// intended change of the look (and look at them before committing); the rows that the guide
// shows are written into docs/images too.
#include <gtest/gtest.h>

#include <functional>

#include <QDir>
#include <QFontInfo>
#include <QTest>

#include <KOVModule/StatusView.h>

namespace {

// Every text in one family of fonts-dejavu-core, at the default style's sizes: the images
// then depend on no other font the machine may have.
constexpr const char* kFamily = "DejaVu Sans";

// Text edges come out a few units apart between builds and font renderers; a moved or resized
// part differs by far more. Equal: every channel within 8 of 255. At most 0.1% of the pixels
// (218 of 420 x 520) may differ beyond that.
constexpr int kChannelTolerance = 8;
constexpr double kDifferingShare = 0.001;

std::shared_ptr<KOVWindowStyle> pinnedStyle(bool logo) {
  auto style = KOVWindowStyle::getDefault()->clone();
  style->showLogo = logo;
  for (std::optional<QFont>* font : {&style->informationFont, &style->buttonsFont}) {
    QFont pinned{QString::fromLatin1(kFamily)};
    pinned.setPixelSize(font->value().pixelSize());
    *font = pinned;
  }
  return style;
}

// The pixels that differ by more than the tolerance in any channel.
int differing(const QImage& actual, const QImage& expected) {
  int count = 0;
  for (int y = 0; y < actual.height(); ++y) {
    for (int x = 0; x < actual.width(); ++x) {
      const QRgb a = actual.pixel(x, y), e = expected.pixel(x, y);
      const int channel = std::max({std::abs(qRed(a) - qRed(e)), std::abs(qGreen(a) - qGreen(e)),
                                    std::abs(qBlue(a) - qBlue(e))});
      count += channel > kChannelTolerance;
    }
  }
  return count;
}

struct Shot {
  const char* name;
  bool logo;
  std::function<void(StatusView&)> steps;
  const char* docImage = nullptr;  // its name in docs/images, for the rows the guide shows
  bool tabToButton = false;        // a keyboard user's focus on the first button, with its ring
};
struct Screenshots : ::testing::TestWithParam<Shot> {};

TEST_P(Screenshots, LookLikeTheirReferenceAtTheDefaultSize) {
  const QFont probe{QString::fromLatin1(kFamily)};
  ASSERT_EQ(QFontInfo(probe).family(), kFamily) << "the images need fonts-dejavu-core";
  StatusView view;
  view.applyStyle(pinnedStyle(GetParam().logo));
  GetParam().steps(view);
  view.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
  if (GetParam().tabToButton) QTest::keyClick(&view, Qt::Key_Tab);
  QCoreApplication::sendPostedEvents();
  // The indicator starts over from its first wait, where only its track is drawn.
  if (view.activityIndicator()->IsPlayingAnimation()) view.activityIndicator()->startAnimation();
  const QImage actual = view.grab().toImage().convertToFormat(QImage::Format_RGB32);

  const QString file = QStringLiteral(KOV_VIEWS_REFERENCE_DIR "/%1.png").arg(GetParam().name);
  if (qEnvironmentVariableIsSet("KOV_WRITE_REFERENCES")) {
    ASSERT_TRUE(actual.save(file));
    if (GetParam().docImage) {
      ASSERT_TRUE(actual.save(QStringLiteral(KOV_DOCS_IMAGES_DIR "/%1.png").arg(GetParam().docImage)));
    }
    GTEST_SKIP() << "written " << file.toStdString();
  }
  const QImage expected = QImage(file).convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(actual.size(), expected.size()) << file.toStdString();
  const int count = differing(actual, expected);
  if (count > actual.width() * actual.height() * kDifferingShare) {
    // The rendering is kept beside the test for a look at where it differs.
    const QString saved = QDir::current().filePath(QStringLiteral("%1.actual.png").arg(GetParam().name));
    actual.save(saved);
    ADD_FAILURE() << count << " pixels differ by more than " << kChannelTolerance << "; this rendering is "
                  << saved.toStdString();
  }
}

void card(StatusView& v) {
  v.updateStatus(KOVStateAwaitingCardSwipe, {}, "INSERT CARD", "$12.50", "CANCEL", {});
}
void signature(StatusView& v) {
  v.updateStatus(KOVStateSignatureRequired, {}, "SIGNATURE OK?", "Approve the signature", "YES", "NO");
}
void waiting(StatusView& v) {
  signature(v);
  v.leftButtonClicked();
}

INSTANTIATE_TEST_SUITE_P(View, Screenshots,
                         ::testing::Values(Shot{"Initializing", true, [](StatusView&) {}, "initializing"},
                                           Shot{"CardOneButton", true, card, "card"},
                                           Shot{"SignatureFocusOnYes", true, signature, "signature", true},
                                           Shot{"WaitingAfterAPress", true, waiting, "waiting"},
                                           Shot{"InitializingWithoutLogo", false, [](StatusView&) {}}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
