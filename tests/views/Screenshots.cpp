// Renders the status screen's main states offscreen into PNG files:
//   kov-views-screenshots <out-dir>
// writes initializing.png, card.png, signature.png and waiting.png.
#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <functional>

#include <KOVModule/KOVHorzActivityIndicator.h>
#include <KOVModule/StatusView.h>
#include <KOVModule/WqKOV.h>

namespace {

void advanceIndicator(StatusView& view, int ticks) {
  if (KOVHorzActivityIndicator* indicator = view.activityIndicator()) {
    indicator->stopAnimation();  // a still frame: drive the ticks by hand
    for (int i = 0; i < ticks; ++i) indicator->doFrame();
  }
}

bool render(const QString& path, const std::function<void(StatusView&)>& setUp) {
  StatusView view;
  view.applyStyle(nullptr);
  view.resize(420, 520);
  view.show();
  setUp(view);
  QApplication::processEvents();
  const bool saved = view.grab().save(path, "PNG");
  view.dismiss();
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: kov-views-screenshots <out-dir>\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.exists() && !QDir().mkpath(dir.path())) return 1;

  bool ok = render(dir.filePath(QStringLiteral("initializing.png")), [](StatusView& view) {
    advanceIndicator(view, 70);
  });
  ok = render(dir.filePath(QStringLiteral("card.png")), [](StatusView& view) {
    view.updateStatus(KOVStateAwaitingCardSwipe, std::nullopt, "INSERT CARD", "$12.50", std::string("CANCEL"),
                      std::nullopt);
  }) && ok;
  ok = render(dir.filePath(QStringLiteral("signature.png")), [](StatusView& view) {
    view.updateStatus(KOVStateSignatureRequired, std::string("PURCHASE $12.50\r\nSIGN BELOW\r\n"), "SIGNATURE OK?",
                      "Check the customer's signature", std::string("YES"), std::string("NO"));
  }) && ok;
  ok = render(dir.filePath(QStringLiteral("waiting.png")), [](StatusView& view) {
    view.updateStatus(KOVStateSignatureRequired, std::nullopt, "SIGNATURE OK?", "Check the customer's signature",
                      std::string("YES"), std::string("NO"));
    view.leftButtonClicked();
    advanceIndicator(view, 130);
  }) && ok;
  return ok ? 0 : 1;
}
