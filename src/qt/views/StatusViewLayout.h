#pragma once

/// Where the status screen's layout puts its parts, decided from the screen's three layout
/// constants. The band and the indicator stand in one column from the top; the details are
/// centred, in a column of their own over the same window, in what lies below an offset.
struct StatusViewLayout {
  /// The margin above the logo inside a band of the standard height.
  static constexpr int kLogoTopMargin = 8;

  int headerHeight = 0;     ///< The band's fixed height.
  int logoTopMargin = 0;    ///< Keeps the logo below a phone's status bar, under which the band reaches.
  int indicatorOffset = 0;  ///< Space above the indicator: below the band when it is shown, else from the top.
  int detailsOffset = 0;    ///< The details are centred in what lies below this.

  /// The placement for these constants: the indicator's top is the band's bottom plus
  /// indicatorTop (so -50 lifts it into a hidden band's place), never above the window's top
  /// nor into a shown band; the details are centred below detailsCentreY.
  static StatusViewLayout from(double headerHeight, double indicatorTop, double detailsCentreY, bool headerShown);
};
