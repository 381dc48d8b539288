#pragma once
#include <KOVModule/KOVExport.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionHandlers.h>
#include <KOVModule/KOVTransactionOutcome.h>
#include <KOVModule/KOVTransactionRecoveryDetails.h>
#include <KOVModule/KOVTransactionType.h>

class QWidget;
struct KOVWindowStyle;

/// The library's entry point for hosts: process-wide preferences, and one call each to
/// start a transaction or recover an interrupted one with the modal status screen.
/// Every operation runs on the main thread (the one running the QApplication).
class KOV_QT_EXPORT KOVTransaction {
 public:
  KOVTransaction() = delete;

  /// The look of later status screens; nullptr restores the default style. Kept by reference.
  static void setWindowStyle(std::shared_ptr<KOVWindowStyle> windowStyle);
  /// Debug mode for later transactions: request and answer texts (key masked) and retry
  /// messages go to the debug log handler.
  static void setDebugMode(bool enableDebugMode);
  /// Receives the debug log of later transactions while debug mode is on.
  static void setDebugLogHandler(KOVTransactionDebugLogHandler handler);
  /// Spaces the retries of later transactions (WqKOV::setRetrySpacing): by default a growing
  /// delay, nine failures spanning at least 10 s; above 0 a fixed spacing of that many seconds
  /// after the failed poll was sent; 0 at once.
  static void setRetrySpacing(double seconds);
  /// The least time between two status polls of later transactions (WqKOV::setPollFloor;
  /// 0.2 s by default, 0 for none).
  static void setPollFloor(double seconds);
  /// How long later transactions may run without a final answer (WqKOV::setTransactionDeadline;
  /// 600 s by default).
  static void setTransactionDeadline(double seconds);
  /// Journals later transactions in the SQLite file at path, created when missing (an empty
  /// path: no journal, the default). False, and why, when the file cannot be used; nothing
  /// changes then, and payments started regardless are not journalled: check it. See
  /// WqKOV::setJournal for what is kept and when.
  [[nodiscard]] static bool setJournal(const std::string& path, std::string* why = nullptr);
  /// The journal's transactions not delivered yet, the oldest first: what to recover at
  /// start-up. Empty without a journal; nullopt, and why, when it cannot be read.
  static std::optional<std::vector<KOVJournalEntry>> pendingTransactions(std::string* why = nullptr);
  /// See WqKOV::setAcknowledgedDelivery: results stay pending in the journal until acknowledged.
  static void setAcknowledgedDelivery(bool acknowledgedDelivery);
  /// The host has taken the result of txnRef over (WqKOV::acknowledge).
  static bool acknowledge(const std::string& txnRef, std::string* why = nullptr);
  /// Removes txnRef from the journal for an operator who settled it by other means (WqKOV::forget).
  static bool forget(const std::string& txnRef, std::string* why = nullptr);
  /// Asks the terminal to cancel the running transaction (WqKOV::cancelTransaction); its result
  /// still comes through the result handler. False when no transaction runs.
  static bool cancelTransaction();
  /// How the transaction whose result was handed over last ended, beside its record
  /// (WqKOV::lastOutcome): read it in the result handler.
  static KOVTransactionOutcome lastTransactionOutcome();
  /// Later status screens say each new screen, and the result, aloud through the system's
  /// speech (Qt TextToSpeech), besides showing them; off by default. Where speech is missing
  /// the screens stay silent, and the debug log says so once.
  static void setSpokenScreen(bool spoken);
  /// "iOS 0.3.0-kov".
  static std::string getModuleVersion();

  /// Presents the status screen over parentVC and starts the transaction; returns once the
  /// first request is under way. The result handler is called once, on the main thread, as
  /// the screen starts to go away. A null resultHandler is refused: nothing is shown or
  /// sent. A null parentVC runs the transaction without a screen.
  static void startTransaction(std::shared_ptr<KOVTransactionDetails> txnDetails, KOVTransactionType txnType,
                               QWidget* parentVC, bool useUAT, KOVTransactionResultHandler resultHandler,
                               KOVTransactionSignatureReceiptHandler signatureReceiptHandler);
  /// As startTransaction, following the earlier transaction named by its reference.
  static void recoverTransaction(const KOVTransactionRecoveryDetails& txnRecoveryDetails, QWidget* parentVC,
                                 bool useUAT, KOVTransactionResultHandler resultHandler,
                                 KOVTransactionSignatureReceiptHandler signatureReceiptHandler);
};
