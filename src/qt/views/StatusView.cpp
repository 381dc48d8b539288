#include <KOVModule/StatusView.h>

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTimer>

#include <KOVModule/KOVDataUtils.h>
#include <KOVModule/KOVHorzActivityIndicator.h>
#include <KOVModule/KOVLayoutConstraint.h>

#include "KOVScreenAnnouncer.h"
#include "KOVStatusButton.h"
#include "ScreenAnnouncement.h"
#include "StatusViewLayout.h"
#include "ui_StatusView.h"

namespace {

constexpr int kFadeMilliseconds = 150;
constexpr int kButtonMaxWidth = 260;  // unless its title needs more
constexpr double kIndicatorTopWithoutLogo = -50.0;
constexpr float kIndicatorLineWidth = 2.0f;
constexpr qreal kLogoPixelRatio = 2.0;  // the logo is drawn at twice its display size

// Sets one palette role, or gives it back to the toolkit's default when unset.
void setRoleColor(QWidget& widget, QPalette::ColorRole role, const std::optional<QColor>& color) {
  QPalette palette = widget.palette();
  palette.setColor(role, color ? *color : QApplication::palette(&widget).color(role));
  widget.setPalette(palette);
}

// An unset font hands the widget back to the font it would inherit.
void setOptionalFont(QWidget& widget, const std::optional<QFont>& font) {
  widget.setFont(font ? *font : QFont());
}

QString toQString(const std::string& text) {
  return QString::fromStdString(text);
}

QImage& logoCache() {
  static QImage image;  // shared by every screen of the process
  return image;
}

}  // namespace

StatusView::StatusView(QWidget* parent)
    : QDialog(parent), _ui(std::make_unique<Ui::StatusView>()), _device(std::make_unique<kov::DesktopDeviceInfo>()) {
  _ui->setupUi(this);
  // The screen goes away only when the program says so: no close button, no Escape.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(true);
  setAutoFillBackground(true);
  // The screen itself holds the focus between its buttons' turns (see focusScreen).
  setFocusPolicy(Qt::StrongFocus);
  _announcer = new KOVScreenAnnouncer(this);
  bindOutlets();
  loadLogo();
}

StatusView::~StatusView() {
  if (_activityIndicator) _activityIndicator->stopAnimation();
}

void StatusView::bindOutlets() {
  _firstLineLabel = _ui->firstLineLabel;
  _secondLineLabel = _ui->secondLineLabel;
  _leftButton = _ui->leftButton;
  _rightButton = _ui->rightButton;
  _headerView = _ui->headerView;
  _activityIndicator = _ui->activityIndicator;
  _wqLogoImage = _ui->wqLogoImage;
  _rootLayout = _ui->rootLayout;
  // The form has no constraint objects; these carry the three values the screen sets before
  // each layout pass, and the layout follows them.
  _headerHeightConstraint = new kov::LayoutConstraint(QStringLiteral("headerHeightConstraint"), cHeaderHeight, this);
  _activityIndicatorTopConstraint =
      new kov::LayoutConstraint(QStringLiteral("activityIndicatorTopConstraint"), 0.0, this);
  _detailsContainerCenterYConstraint =
      new kov::LayoutConstraint(QStringLiteral("detailsContainerCenterYConstraint"), 0.0, this);

  if (_leftButton) connect(_leftButton, &QAbstractButton::clicked, this, &StatusView::leftButtonClicked);
  if (_rightButton) connect(_rightButton, &QAbstractButton::clicked, this, &StatusView::rightButtonClicked);
  // A screen reader names a button by its title; the description says which terminal button it is.
  if (_leftButton) _leftButton->setAccessibleDescription(QStringLiteral("Terminal button B1"));
  if (_rightButton) _rightButton->setAccessibleDescription(QStringLiteral("Terminal button B2"));
  for (kov::LayoutConstraint* constraint :
       {_headerHeightConstraint.data(), _activityIndicatorTopConstraint.data(),
        _detailsContainerCenterYConstraint.data()}) {
    connect(constraint, &kov::LayoutConstraint::constantChanged, this, &StatusView::applyLayout);
  }
}

void StatusView::loadLogo() {
  QImage& image = logoCache();
  // A failed load is tried again by the next screen.
  if (image.isNull()) image = KOVDataUtils::ImageFromBundle(QStringLiteral("tarnfeld"));
  if (!_wqLogoImage) return;
  QPixmap pixmap = QPixmap::fromImage(image);
  pixmap.setDevicePixelRatio(kLogoPixelRatio);
  _wqLogoImage->setPixmap(pixmap);
}

void StatusView::applyStyle(std::shared_ptr<KOVWindowStyle> style) {
  _currentStyle = style ? std::move(style) : KOVWindowStyle::getDefault();
  const KOVWindowStyle& s = *_currentStyle;

  if (_headerView) _headerView->setHidden(!s.showLogo);
  for (QLabel* label : {_firstLineLabel.data(), _secondLineLabel.data()}) {
    if (!label) continue;
    setRoleColor(*label, QPalette::WindowText, s.informationTextColor);
    setOptionalFont(*label, s.informationFont);
  }
  setRoleColor(*this, QPalette::Window, s.backgroundColor);
  for (QPushButton* button : {_leftButton.data(), _rightButton.data()}) {
    if (!button) continue;
    if (auto* statusButton = qobject_cast<KOVStatusButton*>(button)) {
      statusButton->setFillColor(s.buttonsColor);
    } else {
      setRoleColor(*button, QPalette::Button, s.buttonsColor);
    }
    setRoleColor(*button, QPalette::ButtonText, s.buttonsTextColor);
    setOptionalFont(*button, s.buttonsFont);
    button->setProperty("cornerRadius", static_cast<double>(s.buttonsCornerRadius));
  }
  if (_activityIndicator) {
    _activityIndicator->setLineColor(s.activityIndicatorColor.value_or(QColor::fromRgbF(1.0f, 0.0f, 0.0f, 1.0f)),
                                     kIndicatorLineWidth, true);
    // The indicator lies on the screen's own plain background. When that is opaque, the
    // indicator fills its rectangle with it itself, which makes it opaque to the toolkit: a
    // tick repaints the indicator alone instead of the screen beneath it too, with the same
    // pixels. A translucent background would be laid twice, so the screen paints it then.
    _activityIndicator->setAutoFillBackground(palette().window().isOpaque());
    _activityIndicator->setReducedMotion(s.reduceMotion);
    _activityIndicator->setHidden(true);
  }
  showInitializing();
}

void StatusView::showInitializing() {
  _lastScreen.reset();
  if (_firstLineLabel) _firstLineLabel->setText(QStringLiteral("Initializing..."));
  if (_secondLineLabel) _secondLineLabel->setText(QString());
  updateButtonState(_leftButton, std::nullopt);
  updateButtonState(_rightButton, std::nullopt);
  if (_currentStyle && _currentStyle->showActivityIndicator) {
    if (_activityIndicatorTopConstraint) {
      _activityIndicatorTopConstraint->setConstant(_currentStyle->showLogo ? 0.0 : kIndicatorTopWithoutLogo);
    }
    if (_activityIndicator) {
      _activityIndicator->startAnimation();  // busy before it is shown, as assistive technology reads it then
      _activityIndicator->setHidden(false);
    }
  }
  applyLayout();
}

void StatusView::updateStatus(KOVState /*state*/, const std::optional<std::string>& /*receipt*/,
                              const std::string& firstLine, const std::string& secondLine,
                              const std::optional<std::string>& button1, const std::optional<std::string>& button2) {
  if (_currentStyle && _currentStyle->showActivityIndicator && _activityIndicator) {
    _activityIndicator->stopAnimation();
    _activityIndicator->setHidden(true);
  }
  _leftButtonTitle = button1;
  _rightButtonTitle = button2;
  if (_firstLineLabel) _firstLineLabel->setText(toQString(firstLine));
  if (_secondLineLabel) _secondLineLabel->setText(toQString(secondLine));
  updateButtonState(_leftButton, button1);
  updateButtonState(_rightButton, button2);
  applyLayout();
  const std::string screen = kov::ScreenAnnouncement::text(firstLine, secondLine, button1, button2);
  if (const auto text = kov::ScreenAnnouncement::next(_lastScreen, screen)) {
    // A new screen: no button keeps the focus it had on the last one (a scanner's Enter
    // must not press what now stands there), and the new screen is said once.
    focusScreen();
    announce(*text);
  }
  _lastScreen = screen;
}

void StatusView::announce(const std::string& text) {
  if (_announcer) _announcer->announce(toQString(text));
  if (_speaker) _speaker->say(text);
}

void StatusView::setSpeaker(std::shared_ptr<kov::Speaker> speaker) {
  _speaker = std::move(speaker);
}

void StatusView::focusScreen() {
  if (focusWidget() != this) setFocus(Qt::OtherFocusReason);
}

void StatusView::updateButtonState(QAbstractButton* button, const std::optional<std::string>& title) {
  if (!button) return;
  if (!title) {
    button->setHidden(true);
    return;
  }
  button->setText(toQString(*title));
  button->setHidden(false);
}

void StatusView::leftButtonClicked() {
  pressButton("B1", _leftButtonTitle);
}

void StatusView::rightButtonClicked() {
  pressButton("B2", _rightButtonTitle);
}

void StatusView::pressButton(const char* buttonId, const std::optional<std::string>& title) {
  if (_dismissing) return;  // the transaction is over; nothing to press any more
  buttonClicked();
  emit buttonPressed(buttonId, title);
}

void StatusView::buttonClicked() {
  focusScreen();  // before the buttons go, which would hand the focus to whatever comes next
  updateButtonState(_leftButton, std::nullopt);
  updateButtonState(_rightButton, std::nullopt);
  if (_currentStyle && _currentStyle->showActivityIndicator && _activityIndicator) {
    _activityIndicator->startAnimation();
    _activityIndicator->setHidden(false);
  }
}

bool StatusView::isTablet() const {
  return _device->isTablet();
}

void StatusView::viewWillLayoutSubviews() {
  const double headerHeight = isTablet() ? cHeaderHeight : statusBarHeight(*_device) + cHeaderHeight;
  if (_headerHeightConstraint) _headerHeightConstraint->setConstant(headerHeight);
  if (_detailsContainerCenterYConstraint) {
    const bool showLogo = _currentStyle && _currentStyle->showLogo;
    _detailsContainerCenterYConstraint->setConstant(showLogo ? static_cast<float>(headerHeight) : 0.0);
  }
}

void StatusView::layoutPass() {
  viewWillLayoutSubviews();
  applyLayout();
}

// Hands the three constants to the form's layout and lays the screen out at once, so that
// its parts stand where they belong right after every change, shown or not.
void StatusView::applyLayout() {
  const StatusViewLayout placement = StatusViewLayout::from(
      _headerHeightConstraint ? _headerHeightConstraint->constant() : cHeaderHeight,
      _activityIndicatorTopConstraint ? _activityIndicatorTopConstraint->constant() : 0.0,
      _detailsContainerCenterYConstraint ? _detailsContainerCenterYConstraint->constant() : 0.0,
      _headerView && !_headerView->isHidden());
  if (_headerView) {
    _headerView->setFixedHeight(placement.headerHeight);
    if (QLayout* band = _headerView->layout()) {
      const QMargins m = band->contentsMargins();
      band->setContentsMargins(m.left(), placement.logoTopMargin, m.right(), m.bottom());
    }
  }
  for (QPushButton* button : {_leftButton.data(), _rightButton.data()}) {
    if (button) button->setMaximumWidth(std::max(kButtonMaxWidth, button->sizeHint().width()));
  }
  // The spacers belong to the form's layout; if a host deleted it, nothing is laid out.
  if (!_rootLayout) return;
  _ui->indicatorOffsetSpacer->changeSize(0, placement.indicatorOffset, QSizePolicy::Minimum, QSizePolicy::Fixed);
  _ui->detailsOffsetSpacer->changeSize(0, placement.detailsOffset, QSizePolicy::Minimum, QSizePolicy::Fixed);
  _rootLayout->invalidate();
  _rootLayout->activate();
}

void StatusView::dismiss() {
  if (_dismissing) return;
  _dismissing = true;
  if (_activityIndicator) _activityIndicator->stopAnimation();
  if (!isVisible()) {
    // Nothing to fade; dismissed() still comes from the event loop, as after a fade.
    QTimer::singleShot(0, this, &StatusView::finishDismiss);
    return;
  }
  // A short fade, run by the event loop: the caller goes on at once. An effect rather
  // than the window's opacity, which not every platform supports.
  auto* effect = new QGraphicsOpacityEffect(this);
  setGraphicsEffect(effect);  // the screen owns it from here
  auto* fade = new QPropertyAnimation(effect, "opacity", this);
  fade->setDuration(kFadeMilliseconds);
  fade->setStartValue(1.0);
  fade->setEndValue(0.0);
  connect(fade, &QAbstractAnimation::finished, this, &StatusView::finishDismiss);
  fade->start(QAbstractAnimation::DeleteWhenStopped);
}

void StatusView::finishDismiss() {
  done(QDialog::Accepted);
  setGraphicsEffect(nullptr);  // deletes the fade's effect
  emit dismissed();
}

void StatusView::reject() {
  // Cancelling is the terminal's business (its own buttons), never the window's.
}

void StatusView::closeEvent(QCloseEvent* event) {
  if (_dismissing) {
    QDialog::closeEvent(event);
  } else {
    event->ignore();
  }
}

void StatusView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    // Never closes the screen: it asks the terminal to cancel, which the transaction's result
    // then tells.
    event->accept();
    if (!_dismissing && !event->isAutoRepeat()) emit cancelRequested();
    return;
  }
  QDialog::keyPressEvent(event);
}

void StatusView::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  layoutPass();
}

void StatusView::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  layoutPass();
  // The screen, not a button, has the focus when it appears.
  QWidget* focused = focusWidget();
  if (!focused || !focused->isVisibleTo(this)) setFocus(Qt::OtherFocusReason);
}

void StatusView::setDeviceInfo(std::unique_ptr<kov::DeviceInfo> device) {
  _device = device ? std::move(device) : std::make_unique<kov::DesktopDeviceInfo>();
}
