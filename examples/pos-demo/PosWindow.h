#pragma once
#include <KOVModule/KOVJournal.h>
#include <KOVModule/KOVTransactionResultDetails.h>

#include <QWidget>

#include <functional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

/// The till: what to charge, Start and Recover, and the last result in readable form.
class PosWindow : public QWidget {
  Q_OBJECT

 public:
  explicit PosWindow(QWidget* parent = nullptr);

  /// Starts a transaction with the form's values.
  void start();
  /// Follows the last transaction reference to its result.
  void recover();
  /// Asks the operator, for each payment the journal lists as unfinished (the till stopped
  /// before it learnt the result), whether to ask the service how it ended, and does so.
  void offerRecoveries();
  /// Called after every result is shown (the scripted run uses it).
  void setResultObserver(std::function<void(const KOVTransactionResultDetails&)> observer) {
    resultObserver_ = std::move(observer);
  }

 private:
  void showResult(const KOVTransactionResultDetails& result);
  void recoverReference(const std::string& reference, const std::string& station);
  void offerNextRecovery();
  void setBusy(bool busy);
  std::string nextReference();

  QLineEdit* amount_;
  QLineEdit* currency_;
  QComboBox* type_;
  QLineEdit* station_;
  QCheckBox* skipSignature_;
  QPushButton* startButton_;
  QPushButton* recoverButton_;
  QLabel* resultLabel_;
  QLabel* detailsLabel_;
  QPlainTextEdit* receipt_;
  std::string lastReference_;
  std::vector<KOVJournalEntry> unfinished_;  // still to be offered, the oldest last
  int counter_ = 0;
  std::function<void(const KOVTransactionResultDetails&)> resultObserver_;
};
