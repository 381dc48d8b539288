#pragma once
#include <KOVModule/KOVExport.h>
#include <cstdint>
#include <memory>
#include <optional>

#include <QColor>
#include <QFont>

/// Appearance of the status screen: logo band, activity indicator, colours, fonts and the
/// buttons' corner radius. An unset colour or font leaves the toolkit's own default in
/// place, except the indicator colour, which falls back to red. Styles are shared by
/// reference: a screen keeps the style it applied, and the default is one shared object.
/// The default's colours keep every text readable with low vision and its buttons distinct
/// from the background; a host's own style is applied as given.
struct KOV_QT_EXPORT KOVWindowStyle {
  /// The shared default style (created on first use, kept for the process). Changing it
  /// changes the look of every later screen that gets no style of its own. Needs the
  /// QGuiApplication to exist, for the system font.
  static std::shared_ptr<KOVWindowStyle> getDefault();

  /// A new style with the same values, sharing nothing with this one.
  std::shared_ptr<KOVWindowStyle> clone() const;

  bool showLogo = false;                              ///< Show the logo band at the top.
  bool showActivityIndicator = false;                 ///< Show and run the indicator while waiting.
  std::optional<QColor> activityIndicatorColor;       ///< Indicator lines; unset means red.
  std::optional<QColor> backgroundColor;              ///< Background of the whole screen.
  std::optional<QColor> buttonsColor;                 ///< Fill of both buttons.
  std::optional<QColor> buttonsTextColor;             ///< Title colour of both buttons.
  int32_t buttonsCornerRadius = 0;                    ///< Corner radius of both buttons, in pixels.
  std::optional<QFont> buttonsFont;                   ///< Title font of both buttons.
  std::optional<QColor> informationTextColor;         ///< Colour of the two display lines.
  std::optional<QFont> informationFont;               ///< Font of the two display lines.
  /// The indicator does not move and shows a still "busy" sign instead, for people whom
  /// motion distracts or makes unwell (the desktop does not report this wish to Qt).
  bool reduceMotion = false;
};
