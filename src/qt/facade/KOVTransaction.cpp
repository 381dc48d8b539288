// The facade: ties the status screen to the engine for each transaction.
#include <KOVModule/KOVTransaction.h>

#include <KOVModule/KOVQtTransport.h>
#include <KOVModule/KOVSqliteJournal.h>
#include <KOVModule/KOVWindowStyle.h>
#include <KOVModule/StatusView.h>
#include <KOVModule/WqKOV.h>

#include <QLayout>
#include <QPointer>

#include <functional>
#include <utility>

#include "KOVContrast.h"
#include "KOVFacadeEngine.h"
#include "TextToSpeechSpeaker.h"

namespace {

// The process-wide preferences, read when a transaction begins.
struct FacadeSettings {
  std::shared_ptr<KOVWindowStyle> windowStyle;
  bool debugMode = false;
  KOVTransactionDebugLogHandler debugLogHandler;
  double retrySpacing = -1;  // the engine's defaults until the host sets one
  double pollFloor = -1;
  double deadline = 0;
  std::shared_ptr<KOVJournal> journal;
  bool acknowledgedDelivery = false;
  bool spokenScreen = false;
  std::shared_ptr<kov::Speaker> speaker;  // made on first use, shared by every screen
  bool speechUnavailable = false;         // said once, then silent
  WqKOV* engine = nullptr;
};

FacadeSettings& settings() {
  static FacadeSettings instance;
  return instance;
}

WqKOV& selectedEngine() { return settings().engine ? *settings().engine : WqKOV::get(); }

WqKOV& engine() {
  WqKOV& e = selectedEngine();
  if (!e.hasSessionFactory()) {
    KOVQtTransport::install(e);
  }
  return e;
}

void debugLog(const std::string& entry) {
  if (settings().debugMode && settings().debugLogHandler) {
    settings().debugLogHandler(KOVTransactionLogEntryInfo, entry);
  }
}

// The voice of spoken screens, or nullptr where there is none (reported once per process).
std::shared_ptr<kov::Speaker> speaker() {
  FacadeSettings& s = settings();
  if (!s.spokenScreen || s.speaker || s.speechUnavailable) return s.speaker;
  std::string why;
  s.speaker = kov::TextToSpeechSpeaker::create(&why);
  if (!s.speaker) {
    s.speechUnavailable = true;
    debugLog("Spoken screen: " + why + "; the status screen stays silent.");
  }
  return s.speaker;
}

// What a screen reader and the speaker say as the screen goes away: the service's own words for
// the outcome when it gave them.
std::string resultAnnouncement(const KOVTransactionResultDetails& r) {
  if (r.responseText && !r.responseText->empty()) return "Transaction ended: " + *r.responseText;
  return r.transactionResult == KOVTransactionResultSucceeded ? "Transaction ended"
                                                               : "Transaction ended without a result";
}

struct Wiring {
  StatusChangeHandler status;
  KOVTransactionResultHandler result;
};

// Builds, styles and presents the screen (when there is a parent), and the two closures
// that connect it to the engine.
Wiring present(WqKOV& engine, QWidget* parentVC, KOVTransactionResultHandler resultHandler) {
  if (!parentVC) {
    // Headless: a status closure is still given, so the signature receipt handler runs.
    return {[](KOVState, const std::optional<std::string>&, const std::string&, const std::string&,
               const std::optional<std::string>&, const std::optional<std::string>&) {},
            std::move(resultHandler)};
  }
  // Owned by its parent until it has been dismissed, then deleted; the closures hold it
  // weakly, so a screen destroyed with its parent is simply not updated any more.
  QPointer<StatusView> vc = new StatusView(parentVC);
  if (QLayout* layout = vc->layout()) {
    layout->activate();
  }
  vc->setWindowModality(Qt::WindowModal);
  vc->applyStyle(settings().windowStyle);
  // A host's style is applied as given; the log tells when its text is hard to read.
  for (const std::string& shortfall : kov::Contrast::textShortfalls(*vc->currentStyle())) debugLog(shortfall);
  if (settings().spokenScreen) vc->setSpeaker(speaker());
  // The screen knows no engine: its presses are relayed here.
  QObject::connect(vc.data(), &StatusView::buttonPressed, vc.data(),
                   [&engine](const std::string& buttonId, const std::optional<std::string>& title) {
                     engine.sendButtonRequest(buttonId, title);
                   });
  QObject::connect(vc.data(), &StatusView::cancelRequested, vc.data(), [&engine] { engine.cancelTransaction(); });
  QObject::connect(vc.data(), &StatusView::dismissed, vc.data(), &QObject::deleteLater);
  vc->open();

  StatusChangeHandler status = [vc](KOVState state, const std::optional<std::string>& receipt,
                                    const std::string& firstLine, const std::string& secondLine,
                                    const std::optional<std::string>& button1,
                                    const std::optional<std::string>& button2) {
    if (vc) {
      vc->updateStatus(state, receipt, firstLine, secondLine, button1, button2);
    }
  };
  KOVTransactionResultHandler result = [vc, resultHandler = std::move(resultHandler)](KOVTransactionResultDetails r) {
    if (vc) {
      vc->announce(resultAnnouncement(r));
      vc->dismiss();  // starts the fade; the host hears the result at once
    }
    resultHandler(std::move(r));
  };
  return {std::move(status), std::move(result)};
}

bool refuse(const KOVTransactionResultHandler& resultHandler) {
  if (resultHandler) {
    return false;
  }
  debugLog("KOV transaction refused: no result handler was given.");
  return true;
}

}  // namespace

void KOVTransaction::setWindowStyle(std::shared_ptr<KOVWindowStyle> windowStyle) {
  settings().windowStyle = std::move(windowStyle);
}

namespace {

// The engine logs what it refuses outside a transaction (endpoints) with the same debug
// settings, and spaces retries as the host asked.
void shareSettings() {
  WqKOV& e = selectedEngine();
  e.setDebugLog(settings().debugMode, settings().debugLogHandler);
  e.setRetrySpacing(settings().retrySpacing);
  e.setPollFloor(settings().pollFloor);
  e.setTransactionDeadline(settings().deadline);
  e.setJournal(settings().journal);
  e.setAcknowledgedDelivery(settings().acknowledgedDelivery);
}

}  // namespace

void KOVTransaction::setDebugMode(bool enableDebugMode) {
  settings().debugMode = enableDebugMode;
  shareSettings();
}

void KOVTransaction::setDebugLogHandler(KOVTransactionDebugLogHandler handler) {
  settings().debugLogHandler = std::move(handler);
  shareSettings();
}

void KOVTransaction::setRetrySpacing(double seconds) {
  settings().retrySpacing = seconds;
  shareSettings();
}

void KOVTransaction::setPollFloor(double seconds) {
  settings().pollFloor = seconds;
  shareSettings();
}

void KOVTransaction::setTransactionDeadline(double seconds) {
  settings().deadline = seconds;
  shareSettings();
}

bool KOVTransaction::setJournal(const std::string& path, std::string* why) {
  std::shared_ptr<KOVJournal> journal;
  if (!path.empty() && !(journal = KOVSqliteJournal::open(path, why))) {
    return false;
  }
  settings().journal = std::move(journal);
  shareSettings();
  return true;
}

std::optional<std::vector<KOVJournalEntry>> KOVTransaction::pendingTransactions(std::string* why) {
  return selectedEngine().pendingTransactions(why);
}

void KOVTransaction::setAcknowledgedDelivery(bool acknowledgedDelivery) {
  settings().acknowledgedDelivery = acknowledgedDelivery;
  shareSettings();
}

bool KOVTransaction::acknowledge(const std::string& txnRef, std::string* why) {
  return selectedEngine().acknowledge(txnRef, why);
}

bool KOVTransaction::forget(const std::string& txnRef, std::string* why) {
  return selectedEngine().forget(txnRef, why);
}

void KOVTransaction::setSpokenScreen(bool spoken) { settings().spokenScreen = spoken; }

void kov::facade::setSpeaker(std::shared_ptr<kov::Speaker> speaker) {
  settings().speaker = std::move(speaker);
  settings().speechUnavailable = false;
}

bool KOVTransaction::cancelTransaction() { return selectedEngine().cancelTransaction(); }

KOVTransactionOutcome KOVTransaction::lastTransactionOutcome() { return selectedEngine().lastOutcome(); }

std::string KOVTransaction::getModuleVersion() { return "iOS 0.3.0-kov"; }

void kov::facade::setEngine(WqKOV* engine) {
  settings().engine = engine;
  shareSettings();
}

void KOVTransaction::startTransaction(std::shared_ptr<KOVTransactionDetails> txnDetails, KOVTransactionType txnType,
                                      QWidget* parentVC, bool useUAT, KOVTransactionResultHandler resultHandler,
                                      KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  if (refuse(resultHandler)) {
    return;
  }
  WqKOV& e = engine();
  // A second start while one runs is answered by the engine; no second screen covers the first.
  Wiring wiring = present(e, e.isTransactionInProgress() ? nullptr : parentVC, std::move(resultHandler));
  e.startTransaction(std::move(txnDetails), txnType, useUAT, settings().debugMode, settings().debugLogHandler,
                     std::move(wiring.status), std::move(wiring.result), std::move(signatureReceiptHandler));
}

void KOVTransaction::recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, QWidget* parentVC,
                                        bool useUAT, KOVTransactionResultHandler resultHandler,
                                        KOVTransactionSignatureReceiptHandler signatureReceiptHandler) {
  if (refuse(resultHandler)) {
    return;
  }
  WqKOV& e = engine();
  Wiring wiring = present(e, e.isTransactionInProgress() ? nullptr : parentVC, std::move(resultHandler));
  e.recoverTransaction(txnRecoveryDetails, useUAT, settings().debugMode, settings().debugLogHandler,
                       std::move(wiring.status), std::move(wiring.result), std::move(signatureReceiptHandler));
}
