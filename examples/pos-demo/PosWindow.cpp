#include "PosWindow.h"

#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVTransaction.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QFontDatabase>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>

#include "ResultText.h"

namespace {

QString q(const std::optional<std::string>& text) { return QString::fromStdString(text.value_or("")); }

// The demo's merchant account on the bundled simulator.
constexpr const char* kUser = "merchant";
constexpr const char* kKey = "s3cret";

}  // namespace

PosWindow::PosWindow(QWidget* parent) : QWidget(parent) {
  setWindowTitle(QStringLiteral("KOV point of sale"));
  auto* form = new QFormLayout;
  amount_ = new QLineEdit(QStringLiteral("12.50"), this);
  currency_ = new QLineEdit(QStringLiteral("AUD"), this);
  type_ = new QComboBox(this);
  type_->addItem(QStringLiteral("Purchase"), KOVTransactionTypePurchase);
  type_->addItem(QStringLiteral("Auth"), KOVTransactionTypeAuth);
  type_->addItem(QStringLiteral("Complete"), KOVTransactionTypeComplete);
  type_->addItem(QStringLiteral("Refund"), KOVTransactionTypeRefund);
  type_->addItem(QStringLiteral("Void"), KOVTransactionTypeVoid);
  station_ = new QLineEdit(QStringLiteral("ST01"), this);
  skipSignature_ = new QCheckBox(QStringLiteral("Answer the signature check automatically"), this);
  form->addRow(QStringLiteral("Amount"), amount_);
  form->addRow(QStringLiteral("Currency"), currency_);
  form->addRow(QStringLiteral("Type"), type_);
  form->addRow(QStringLiteral("Station"), station_);
  form->addRow(QString(), skipSignature_);

  startButton_ = new QPushButton(QStringLiteral("Start"), this);
  recoverButton_ = new QPushButton(QStringLiteral("Recover last"), this);
  startButton_->setDefault(true);
  recoverButton_->setEnabled(false);
  for (QPushButton* b : {startButton_, recoverButton_}) b->setMinimumHeight(44);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(startButton_);
  buttons->addWidget(recoverButton_);

  resultLabel_ = new QLabel(QStringLiteral("No transaction yet."), this);
  QFont big = resultLabel_->font();
  big.setPixelSize(20);
  big.setBold(true);
  resultLabel_->setFont(big);
  detailsLabel_ = new QLabel(this);
  detailsLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  receipt_ = new QPlainTextEdit(this);
  receipt_->setReadOnly(true);
  receipt_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  receipt_->setPlaceholderText(QStringLiteral("Receipt"));
  receipt_->setMinimumHeight(180);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 24, 24, 24);
  layout->setSpacing(14);
  layout->addLayout(form);
  layout->addLayout(buttons);
  layout->addWidget(resultLabel_);
  layout->addWidget(detailsLabel_);
  layout->addWidget(receipt_, 1);
  resize(460, 620);

  connect(startButton_, &QPushButton::clicked, this, &PosWindow::start);
  connect(recoverButton_, &QPushButton::clicked, this, &PosWindow::recover);
}

std::string PosWindow::nextReference() {
  return "POS-" + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddhhmmss")).toStdString() + "-" +
         std::to_string(++counter_);
}

void PosWindow::setBusy(bool busy) {
  startButton_->setEnabled(!busy);
  recoverButton_->setEnabled(!busy && !lastReference_.empty());
}

void PosWindow::start() {
  const auto amount = KOVDecimal::parse(amount_->text().trimmed().toStdString());
  if (!amount) {
    resultLabel_->setText(QStringLiteral("The amount must be a plain number such as 12.50."));
    return;
  }
  auto details = std::make_shared<KOVTransactionDetails>();
  details->userName = kUser;
  details->key = kKey;
  details->stationId = station_->text().toStdString();
  details->amount = amount;
  details->currencyCode = currency_->text().toStdString();
  details->txnRef = lastReference_ = nextReference();
  details->posName = "pos-demo";
  details->posVersion = KOVTransaction::getModuleVersion();
  details->skipSignatureVerification = skipSignature_->isChecked();
  setBusy(true);
  KOVTransaction::startTransaction(details, static_cast<KOVTransactionType>(type_->currentData().toUInt()), this,
                                   false, [this](KOVTransactionResultDetails r) { showResult(r); }, nullptr);
}

void PosWindow::recover() { recoverReference(lastReference_, station_->text().toStdString()); }

void PosWindow::offerRecoveries() {
  std::string why;
  const auto pending = KOVTransaction::pendingTransactions(&why);
  if (!pending) {
    resultLabel_->setText(QString::fromStdString(why));
    return;
  }
  unfinished_.assign(pending->rbegin(), pending->rend());
  offerNextRecovery();
}

void PosWindow::offerNextRecovery() {
  while (!unfinished_.empty()) {
    const KOVJournalEntry entry = unfinished_.back();
    unfinished_.pop_back();
    const QString what = QStringLiteral("%1 %2 %3 at station %4, reference %5, started %6 UTC")
                             .arg(q(entry.txnType.value_or("Payment")), q(entry.amount), q(entry.currencyCode),
                                  q(entry.stationId), QString::fromStdString(entry.txnRef),
                                  QDateTime::fromSecsSinceEpoch(std::chrono::system_clock::to_time_t(entry.startedAt),
                                                                Qt::UTC)
                                      .toString(QStringLiteral("yyyy-MM-dd hh:mm")));
    const QString question =
        entry.stage == KOVJournalStageAnswered
            ? QStringLiteral("The result of a payment arrived, but the till stopped before showing it:\n%1\n\nShow it now?")
            : QStringLiteral("The till stopped during a payment, before it learnt the result:\n%1\n\nAsk the "
                             "service how it ended? Do not take the payment again before you know.");
    if (QMessageBox::question(this, QStringLiteral("Unfinished payment"), question.arg(what)) == QMessageBox::Yes) {
      lastReference_ = entry.txnRef;
      recoverReference(entry.txnRef, entry.stationId.value_or(station_->text().toStdString()));
      return;  // the next one is offered once this result is shown
    }
  }
}

void PosWindow::recoverReference(const std::string& reference, const std::string& station) {
  KOVTransactionRecoveryDetails recovery;
  recovery.userName = kUser;
  recovery.key = kKey;
  recovery.stationId = station;
  recovery.txnRef = reference;
  recovery.skipSignatureVerification = skipSignature_->isChecked();
  setBusy(true);
  KOVTransaction::recoverTransaction(recovery, this, false, [this](KOVTransactionResultDetails r) { showResult(r); },
                                     nullptr);
}

void PosWindow::showResult(const KOVTransactionResultDetails& result) {
  setBusy(false);
  resultLabel_->setText(QString::fromStdString(resultName(result.transactionResult)));
  QStringList lines;
  if (!q(result.responseText).isEmpty()) lines << q(result.responseText) + QStringLiteral(" (") + q(result.reCo) + QStringLiteral(")");
  if (!q(result.authCode).isEmpty()) lines << QStringLiteral("Auth code ") + q(result.authCode);
  if (!q(result.maskedCardNumber).isEmpty()) lines << q(result.cardName) + QStringLiteral(" ") + q(result.maskedCardNumber);
  lines << QStringLiteral("Reference ") + QString::fromStdString(lastReference_);
  detailsLabel_->setText(lines.join(QLatin1Char('\n')));
  receipt_->setPlainText(q(result.receipt).remove(QLatin1Char('\r')));
  if (resultObserver_) resultObserver_(result);
  if (!unfinished_.empty()) {
    QTimer::singleShot(0, this, &PosWindow::offerNextRecovery);
  }
}
