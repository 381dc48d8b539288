#pragma once
#include <KOVModule/KOVExport.h>
#include <memory>
#include <optional>
#include <string>

#include <QDialog>
#include <QLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <KOVModule/KOVDeviceInfo.h>
#include <KOVModule/KOVHorzActivityIndicator.h>
#include <KOVModule/KOVLayoutConstraint.h>
#include <KOVModule/KOVSpeaker.h>
#include <KOVModule/KOVState.h>
#include <KOVModule/KOVWindowStyle.h>

namespace Ui {
class StatusView;
}
class KOVScreenAnnouncer;

/// The modal status screen shown while a transaction runs: the terminal's two display
/// lines, up to two buttons that mirror the terminal's, a logo band and an activity
/// indicator while the library waits. Built from the form "StatusView", whose layouts size
/// the lines and buttons by their text; its ten parts are held weakly, and every operation
/// skips a part that has been deleted. The user cannot close it; only dismiss() does.
///
/// For assistive technology it is the dialog "Card payment": its lines are labels, its
/// buttons push buttons described by the terminal's button id, the indicator a busy progress
/// bar. Each new screen is announced once and takes the focus back from the buttons, so that
/// no stray key presses one; Tab reaches them, Space or Enter presses the focused one, and
/// Escape asks to cancel (cancelRequested) without closing anything.
class KOV_QT_EXPORT StatusView : public QDialog {
  Q_OBJECT

 public:
  /// Header band height without a status bar, in device-independent pixels.
  static constexpr int cHeaderHeight = 50;

  /// Builds the screen from its layout and loads the logo (once per process).
  explicit StatusView(QWidget* parent = nullptr);
  ~StatusView() override;

  /// Applies a style (nullptr: the shared default), hides the indicator, then shows the
  /// initializing state. The style is kept by reference.
  void applyStyle(std::shared_ptr<KOVWindowStyle> style);
  /// "Initializing...", an empty second line, no buttons; the indicator runs if the style
  /// asks for it.
  void showInitializing();
  /// Shows one screen of the terminal: the two lines, and each button with its title or
  /// hidden when the title is nullopt. Stops and hides the indicator. The state and the
  /// receipt do not change what is shown. A screen that differs from the one before is
  /// announced, and the focus goes back to the screen.
  void updateStatus(KOVState state, const std::optional<std::string>& receipt, const std::string& firstLine,
                    const std::string& secondLine, const std::optional<std::string>& button1,
                    const std::optional<std::string>& button2);
  /// Hides the button for nullopt; otherwise shows it with that title ("" gives an empty title).
  void updateButtonState(QAbstractButton* button, const std::optional<std::string>& title);
  /// The left button's press: waits, and emits buttonPressed("B1", its last title).
  void leftButtonClicked();
  /// The right button's press: waits, and emits buttonPressed("B2", its last title).
  void rightButtonClicked();
  /// Sets the layout constants before a layout pass: the header height (50, plus the status
  /// bar on a phone) and the details container's centre offset (the header height when the
  /// logo is shown, else 0).
  void viewWillLayoutSubviews();
  /// Whether the device is a tablet.
  bool isTablet() const;
  /// Closes the screen from the program: stops the indicator at once and fades out without
  /// blocking; dismissed() follows from the event loop once the screen is hidden.
  void dismiss();

  /// Tells assistive technology, and the speaker if there is one, this text now, without
  /// moving the focus (the screens announce themselves; a host adds the result).
  void announce(const std::string& text);
  /// Says every announcement aloud through this speaker too (nullptr: silent, the default).
  void setSpeaker(std::shared_ptr<kov::Speaker> speaker);

  /// Replaces the device the screen asks about status bar and tablet (default: a desktop).
  void setDeviceInfo(std::unique_ptr<kov::DeviceInfo> device);

  /// The style applied last; nullptr before applyStyle.
  const std::shared_ptr<KOVWindowStyle>& currentStyle() const { return _currentStyle; }
  /// The title last given for the left button.
  const std::optional<std::string>& leftButtonTitle() const { return _leftButtonTitle; }
  /// The title last given for the right button.
  const std::optional<std::string>& rightButtonTitle() const { return _rightButtonTitle; }

  // The ten parts of the screen; each is nullptr once it has been deleted.

  /// The first display line.
  QLabel* firstLineLabel() const { return _firstLineLabel; }
  /// The second display line.
  QLabel* secondLineLabel() const { return _secondLineLabel; }
  /// The left button (sends "B1").
  QPushButton* leftButton() const { return _leftButton; }
  /// The right button (sends "B2").
  QPushButton* rightButton() const { return _rightButton; }
  /// The logo band at the top.
  QWidget* headerView() const { return _headerView; }
  /// The logo band's height (50, plus the status bar on a phone).
  kov::LayoutConstraint* headerHeightConstraint() const { return _headerHeightConstraint; }
  /// The activity indicator under the logo band.
  KOVHorzActivityIndicator* activityIndicator() const { return _activityIndicator; }
  /// The indicator's offset from the band's bottom (0, or -50 without the logo).
  kov::LayoutConstraint* activityIndicatorTopConstraint() const { return _activityIndicatorTopConstraint; }
  /// How far down the details are centred from (the band's height with the logo, else 0).
  kov::LayoutConstraint* detailsContainerCenterYConstraint() const { return _detailsContainerCenterYConstraint; }
  /// The logo image.
  QLabel* wqLogoImage() const { return _wqLogoImage; }

 signals:
  /// The screen has been dismissed and is hidden.
  void dismissed();
  /// The operator pressed a terminal button ("B1" or "B2") showing this title; not emitted
  /// once the screen is being dismissed.
  void buttonPressed(const std::string& buttonId, const std::optional<std::string>& title);
  /// The operator pressed Escape: the terminal should cancel (its CANCEL, now or when shown).
  void cancelRequested();

 public slots:
  /// Does nothing: the user cannot cancel the screen.
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void bindOutlets();
  void loadLogo();
  void layoutPass();
  void applyLayout();
  void buttonClicked();
  void pressButton(const char* buttonId, const std::optional<std::string>& title);
  void finishDismiss();
  void focusScreen();

  QPointer<QLabel> _firstLineLabel;
  QPointer<QLabel> _secondLineLabel;
  QPointer<QPushButton> _leftButton;
  QPointer<QPushButton> _rightButton;
  QPointer<QWidget> _headerView;
  QPointer<kov::LayoutConstraint> _headerHeightConstraint;
  QPointer<KOVHorzActivityIndicator> _activityIndicator;
  QPointer<kov::LayoutConstraint> _activityIndicatorTopConstraint;
  QPointer<kov::LayoutConstraint> _detailsContainerCenterYConstraint;
  QPointer<QLabel> _wqLogoImage;
  std::unique_ptr<Ui::StatusView> _ui;  // the form's widgets, spacers and layouts
  QPointer<QLayout> _rootLayout;        // the form's; the spacers go with it
  std::optional<std::string> _leftButtonTitle;
  std::optional<std::string> _rightButtonTitle;
  std::shared_ptr<KOVWindowStyle> _currentStyle;
  std::unique_ptr<kov::DeviceInfo> _device;
  QPointer<KOVScreenAnnouncer> _announcer;
  std::shared_ptr<kov::Speaker> _speaker;
  std::optional<std::string> _lastScreen;  // what the last screen announced
  bool _dismissing = false;
};
