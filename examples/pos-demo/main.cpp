// pos-demo: a point-of-sale window that takes card payments through KOVTransaction.
//   pos-demo [--endpoint URL] [--ca-file PEM] [--journal FILE] [--speak] [--scripted DIR]
// Payments are journalled (by default in the user's data folder): on start, the till offers
// to recover each payment it stopped in the middle of. --scripted runs one purchase by
// itself, writes screenshots of each screen into DIR and exits with 0 when it was approved
// (for machines without a display).
#include <KOVModule/KOVModuleQt.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLabel>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include <iostream>

#include "PosWindow.h"
#include "ResultText.h"

namespace {

// Saves the status screen each time it shows something new.
void watchScreens(PosWindow& window, const QString& dir) {
  auto* timer = new QTimer(&window);
  auto last = std::make_shared<QString>();
  auto count = std::make_shared<int>(0);
  QObject::connect(timer, &QTimer::timeout, &window, [&window, dir, last, count] {
    StatusView* screen = window.findChild<StatusView*>();
    if (!screen || !screen->isVisible() || !screen->firstLineLabel()) return;
    const QString line = screen->firstLineLabel()->text();
    if (line == *last) return;
    *last = line;
    QString name = line.toLower();
    name.replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
    const QString file = QStringLiteral("%1/screen-%2-%3.png").arg(dir).arg(++*count).arg(name);
    screen->grab().save(file);
    std::cout << "pos-demo: saved " << file.toStdString() << std::endl;
  });
  timer->start(20);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("A point-of-sale window that takes card payments."));
  parser.addHelpOption();
  const QCommandLineOption endpoint(QStringLiteral("endpoint"), QStringLiteral("Service URL for both endpoints."),
                                    QStringLiteral("URL"));
  const QCommandLineOption caFile(QStringLiteral("ca-file"), QStringLiteral("Also trust these certificates."),
                                  QStringLiteral("PEM"));
  const QCommandLineOption scripted(QStringLiteral("scripted"),
                                    QStringLiteral("Run one purchase and save screenshots into DIR."),
                                    QStringLiteral("DIR"));
  const QCommandLineOption journal(QStringLiteral("journal"),
                                   QStringLiteral("Journal payments in FILE (default: in the user's data folder)."),
                                   QStringLiteral("FILE"));
  const QCommandLineOption speak(QStringLiteral("speak"),
                                 QStringLiteral("Say each screen of the payment aloud (system speech)."));
  parser.addOptions({endpoint, caFile, journal, speak, scripted});
  parser.process(app);

  WqKOV& engine = WqKOV::get();
  KOVQtTransport::install(engine);
  if (parser.isSet(caFile)) {
    std::string why;
    if (!KOVQtTransport::addTrustedCertificates(parser.value(caFile).toStdString(), &why)) {
      std::cerr << "pos-demo: --ca-file: " << why << std::endl;
      return 2;
    }
  }
  if (parser.isSet(endpoint)) {
    const std::string url = parser.value(endpoint).toStdString();
    std::string why;
    if (!WqKOV::isAcceptableEndpointUrl(url, &why)) {
      std::cerr << "pos-demo: --endpoint refused: " << why << std::endl;
      return 2;
    }
    engine.setEndpointUrls(url, url);
  }

  QString journalFile = parser.value(journal);
  if (journalFile.isEmpty()) {
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation);
    QDir().mkpath(folder);
    journalFile = folder + QStringLiteral("/journal.db");
  }
  std::string why;
  if (!KOVTransaction::setJournal(journalFile.toStdString(), &why)) {
    std::cerr << "pos-demo: --journal " << why << std::endl;
    return 2;
  }

  auto style = KOVWindowStyle::getDefault();
  style->showLogo = true;
  style->showActivityIndicator = true;
  KOVTransaction::setWindowStyle(style);
  KOVTransaction::setSpokenScreen(parser.isSet(speak));

  PosWindow window;
  window.show();
  if (!parser.isSet(scripted)) {
    QTimer::singleShot(0, &window, &PosWindow::offerRecoveries);
    return app.exec();
  }

  const QString dir = parser.value(scripted);
  QDir().mkpath(dir);
  watchScreens(window, dir);
  int exitCode = 1;
  window.setResultObserver([&](const KOVTransactionResultDetails& r) {
    std::cout << "pos-demo: " << resultName(r.transactionResult) << ", auth code " << r.authCode.value_or("")
              << ", card " << r.maskedCardNumber.value_or("") << std::endl;
    exitCode = r.transactionResult == KOVTransactionResultSucceeded ? 0 : 1;
    QTimer::singleShot(400, &app, [&] {  // after the screen's fade
      const QString file = dir + QStringLiteral("/till-result.png");
      window.grab().save(file);
      std::cout << "pos-demo: saved " << file.toStdString() << std::endl;
      app.quit();
    });
  });
  QTimer::singleShot(0, &window, &PosWindow::start);
  QTimer::singleShot(120000, &app, [&] {
    std::cerr << "pos-demo: no result within two minutes" << std::endl;
    app.quit();
  });
  app.exec();
  engine.releaseSession();
  return exitCode;
}
