#include <KOVModule/KOVWindowStyle.h>

#include <QFontDatabase>

namespace {

// The toolkit's standard system font at a size in device-independent pixels, the unit
// every other size of the screen uses.
QFont systemFontOfSize(int pixels) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  font.setPixelSize(pixels);
  return font;
}

}  // namespace

std::shared_ptr<KOVWindowStyle> KOVWindowStyle::getDefault() {
  // The one process-wide default: hosts change it in place to restyle later screens.
  static const std::shared_ptr<KOVWindowStyle> defaultStyle = [] {
    auto style = std::make_shared<KOVWindowStyle>();
    style->showLogo = true;
    style->backgroundColor = QColor::fromRgbF(1.0f, 1.0f, 1.0f, 1.0f);
    style->buttonsColor = QColor::fromRgbF(1.0f, 0.0f, 0.0f, 1.0f);
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
