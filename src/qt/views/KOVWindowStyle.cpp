#include <KOVModule/KOVWindowStyle.h>

#include <QFontDatabase>

#include <algorithm>
#include <cmath>

namespace {

// The desktop's usual text size, in points: a desktop set larger makes the screen's text larger
// by as much (never smaller, so the screen stays as designed on a small default).
constexpr double kUsualDesktopPoints = 10.0;

// The toolkit's standard system font at a size in device-independent pixels, the unit
// every other size of the screen uses (the display's scale factor applies on top).
QFont systemFontOfSize(int pixels) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  const double scale = std::max(1.0, font.pointSizeF() / kUsualDesktopPoints);
  font.setPixelSize(static_cast<int>(std::lround(pixels * scale)));
  return font;
}

// The buttons' fill. Pure red under white 17-pixel titles gives 4.0:1, short of the 4.5:1
// such text needs to be read with low vision; this red gives 5.9:1 (5.0:1 lightened under
// the pointer) and stands out from the white background by as much.
QColor buttonRed() {
  return QColor::fromRgb(0xcc, 0x00, 0x00);
}

}  // namespace

std::shared_ptr<KOVWindowStyle> KOVWindowStyle::getDefault() {
  // The one process-wide default: hosts change it in place to restyle later screens.
  static const std::shared_ptr<KOVWindowStyle> defaultStyle = [] {
    auto style = std::make_shared<KOVWindowStyle>();
    style->showLogo = true;
    style->backgroundColor = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f);
    style->buttonsColor = buttonRed();
    style->showActivityIndicator = true;
    style->activityIndicatorColor = QColor::fromRgbF(1.0f, 0.0f, 0.0f, 1.0f);
    style->buttonsTextColor = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f);
    style->buttonsCornerRadius = 0;
    style->buttonsFont = systemFontOfSize(17);
    style->informationTextColor = QColor::fromRgbF(0.0f, 0.0f, 0.0f, 1.0f);
    style->informationFont = systemFontOfSize(19);
    return style;
  }();
  return defaultStyle;
}

std::shared_ptr<KOVWindowStyle> KOVWindowStyle::clone() const {
  return std::make_shared<KOVWindowStyle>(*this);
}
