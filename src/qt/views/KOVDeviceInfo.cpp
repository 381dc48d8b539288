#include <KOVModule/KOVDeviceInfo.h>

double statusBarHeight(const kov::DeviceInfo& device) {
  const QRectF frame = device.statusBarFrame();
  return frame.width() < frame.height() ? frame.width() : frame.height();
}

double statusBarHeight() {
  return statusBarHeight(kov::DesktopDeviceInfo{});
}
