#include "CliRun.h"

#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/WqKOV.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <unistd.h>

#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "CliJson.h"

namespace kovcli {
namespace {

void errLine(const std::string& line) { std::cerr << line << std::endl; }

// Reads button presses from stdin, a line at a time, without blocking the event loop.
class ButtonReader {
 public:
  explicit ButtonReader(std::function<void(const std::string&)> onLine) : onLine_(std::move(onLine)) {
    notifier_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readAvailable(); });
  }
  void stop() { notifier_->setEnabled(false); }

 private:
  void readAvailable() {
    char chunk[512];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
      stop();  // end of input (or an error): no more presses
      return;
    }
    pending_.append(chunk, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      std::string line = pending_.substr(0, eol);
      pending_.erase(0, eol + 1);
      const auto first = line.find_first_not_of(" \t\r");
      const auto last = line.find_last_not_of(" \t\r");
      onLine_(first == std::string::npos ? std::string() : line.substr(first, last - first + 1));
    }
    if (pending_.size() > 4096) pending_.clear();  // no line is that long
  }

  std::function<void(const std::string&)> onLine_;
  std::unique_ptr<QSocketNotifier> notifier_;
  std::string pending_;
};

}  // namespace

int runTransaction(const CliOptions& options) {
  WqKOV& engine = WqKOV::get();
  KOVQtTransport::install(engine);

  if (options.caFile) {
    std::string why;
    if (!KOVQtTransport::addTrustedCertificates(*options.caFile, &why)) {
      std::cerr << usageErrorLine("--ca-file " + *options.caFile + ": " + why) << std::endl;
      return 2;
    }
  }
  if (options.endpoint) {
    std::string why;
    if (!WqKOV::isAcceptableEndpointUrl(*options.endpoint, &why)) {
      std::cerr << usageErrorLine("--endpoint refused: " + why) << std::endl;
      return 2;
    }
    engine.setEndpointUrls(*options.endpoint, *options.endpoint);
  }

  std::optional<int> exitCode;
  std::optional<std::string> shownButton1, shownButton2;

  ButtonReader reader([&](const std::string& line) {
    if (!engine.isTransactionInProgress()) return;
    // The label last shown goes with the press, as the status screen would send it.
    if (line == "B1" && shownButton1) engine.sendButtonRequest("B1", *shownButton1);
    if (line == "B2" && shownButton2) engine.sendButtonRequest("B2", *shownButton2);
  });

  KOVTransactionDebugLogHandler logHandler;
  if (options.debug) {
    logHandler = [](KOVTransactionLogEntryType type, const std::string& entry) { errLine(logJson(type, entry)); };
  }
  StatusChangeHandler statusHandler = [&](KOVState state, const std::optional<std::string>& receipt,
                                          const std::string& firstLine, const std::string& secondLine,
                                          const std::optional<std::string>& button1,
                                          const std::optional<std::string>& button2) {
    shownButton1 = button1;
    shownButton2 = button2;
    errLine(statusJson(state, receipt, firstLine, secondLine, button1, button2));
  };
  KOVTransactionResultHandler resultHandler = [&](KOVTransactionResultDetails result) {
    std::cout << resultJson(result) << std::endl;
    exitCode = result.transactionResult == KOVTransactionResultSucceeded ? 0 : 1;
    reader.stop();
    QCoreApplication::exit(*exitCode);
  };
  KOVTransactionSignatureReceiptHandler signatureHandler = [](const std::optional<std::string>& receipt) {
    errLine(signatureReceiptJson(receipt));
  };

  if (options.recover) {
    engine.recoverTransaction(options.recovery, options.uat, options.debug, logHandler, statusHandler,
                              resultHandler, signatureHandler);
  } else {
    engine.startTransaction(std::make_shared<KOVTransactionDetails>(options.details), options.txnType, options.uat,
                            options.debug, logHandler, statusHandler, resultHandler, signatureHandler);
  }
  if (!exitCode) {
    QCoreApplication::exec();
  }
  // Nothing outlives the run: outstanding requests are cancelled and their completions
  // delivered while the event loop still exists.
  engine.releaseSession();
  QCoreApplication::processEvents();
  return exitCode.value_or(1);
}

}  // namespace kovcli
