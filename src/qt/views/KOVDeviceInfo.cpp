#include <KOVModule/KOVDeviceInfo.h>

double statusBarHeight(const KOVDeviceInfo& device) {
  const QRectF frame = device.statusBarFrame();
  return frame.width() < frame.height() ? frame.width() : frame.height();
}

double statusBarHeight() {
  return statusBarHeight(KOVDesktopDeviceInfo{});
}
