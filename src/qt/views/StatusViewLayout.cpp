#include "StatusViewLayout.h"

#include <algorithm>

#include <KOVModule/StatusView.h>

StatusViewLayout StatusViewLayout::from(double headerHeight, double indicatorTop, double detailsCentreY,
                                        bool headerShown) {
  StatusViewLayout layout;
  layout.headerHeight = std::max(0, static_cast<int>(headerHeight));
  layout.logoTopMargin = kLogoTopMargin + std::max(0, layout.headerHeight - StatusView::cHeaderHeight);
  // A hidden band takes no room in its column, so the indicator's offset counts from the top.
  const double bandBottom = headerShown ? 0.0 : headerHeight;
  layout.indicatorOffset = std::max(0, static_cast<int>(bandBottom + indicatorTop));
  layout.detailsOffset = std::max(0, static_cast<int>(detailsCentreY));
  return layout;
}
