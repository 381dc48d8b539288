#pragma once
#include <KOVModule/KOVTransactionResultDetails.h>

#include <QWidget>

#include <functional>
#include <string>

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
  /// Called after every result is shown (the scripted run uses it).
  void setResultObserver(std::function<void(const KOVTransactionResultDetails&)> observer) {
    resultObserver_ = std::move(observer);
  }

 private:
  void showResult(const KOVTransactionResultDetails& result);
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
  int counter_ = 0;
  std::function<void(const KOVTransactionResultDetails&)> resultObserver_;
};
