#include "KOVContrast.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <KOVModule/KOVWindowStyle.h>

namespace kov {

namespace {

double linear(double channel) {
  return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
}

double luminance(const QColor& c) {
  return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

QColor over(const QColor& top, const QColor& bottom) {
  const float a = top.alphaF();
  return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a), top.greenF() * a + bottom.greenF() * (1 - a),
                          top.blueF() * a + bottom.blueF() * (1 - a));
}

double pixels(const QFont& font) {
  return font.pixelSize() > 0 ? font.pixelSize() : font.pointSizeF() * 96.0 / 72.0;
}

}  // namespace

double Contrast::ratio(const QColor& foreground, const QColor& background) {
  const double a = luminance(over(foreground, background)), b = luminance(background);
  return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

double Contrast::textMinimum(const QFont& font) {
  // Large text: 18 point, or 14 point bold (1 point = 4/3 px).
  const bool large = pixels(font) >= 24.0 || (font.bold() && pixels(font) >= 14.0 * 4.0 / 3.0);
  return large ? 3.0 : 4.5;
}

std::vector<std::string> Contrast::textShortfalls(const KOVWindowStyle& style) {
  struct Text {
    const char* what;
    const std::optional<QColor>& colour;
    const std::optional<QColor>& background;
    const std::optional<QFont>& font;
  };
  std::vector<std::string> lines;
  for (const Text& t : {Text{"display lines", style.informationTextColor, style.backgroundColor, style.informationFont},
                        Text{"button titles", style.buttonsTextColor, style.buttonsColor, style.buttonsFont}}) {
    if (!t.colour || !t.background || !t.font) continue;
    const double r = ratio(*t.colour, *t.background), minimum = textMinimum(*t.font);
    if (r >= minimum) continue;
    char line[160];
    std::snprintf(line, sizeof line, "Window style: the %s have a contrast of %.2f:1, below the %.1f:1 that text of "
                  "their size needs to be read with low vision.", t.what, r, minimum);
    lines.emplace_back(line);
  }
  return lines;
}

}  // namespace kov
