#pragma once
#include <KOVModule/KOVExport.h>
#include <QRectF>

namespace kov {

/// What the status screen asks of the device it runs on. A desktop has no status bar and is
/// no tablet; a mobile host (or a test) supplies its own answers.
class KOV_QT_EXPORT DeviceInfo {
 public:
  virtual ~DeviceInfo() = default;
  /// Whether the device is a tablet (its header band does not reach under a status bar).
  virtual bool isTablet() const = 0;
  /// The status bar's rectangle in device-independent pixels; empty when there is none.
  virtual QRectF statusBarFrame() const = 0;
};

/// The desktop: no status bar, not a tablet.
class KOV_QT_EXPORT DesktopDeviceInfo : public DeviceInfo {
 public:
  /// Always false.
  bool isTablet() const override { return false; }
  /// Always the empty rectangle.
  QRectF statusBarFrame() const override { return {}; }
};

}  // namespace kov

/// The status bar's thickness on that device: the smaller of its frame's width and height
/// (the height unless the width is smaller), so it holds in portrait and landscape.
KOV_QT_EXPORT double statusBarHeight(const kov::DeviceInfo& device);
/// The status bar's thickness on this desktop: 0.
KOV_QT_EXPORT double statusBarHeight();
