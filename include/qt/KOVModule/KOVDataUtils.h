#pragma once
#include <KOVModule/KOVExport.h>
#include <QImage>
#include <QString>

/// Finds the library's resource bundle "KOVModuleResources.bundle" (compiled into the
/// library) and loads images from it.
class KOV_QT_EXPORT KOVDataUtils {
 public:
  /// The bundle's resource path (":/KOVModuleResources.bundle"), or an empty text when the
  /// bundle is missing. Resolved once per process.
  static QString FrameworkBundle();
  /// The image of that name (a PNG) from the bundle, or a null image.
  static QImage ImageFromBundle(const QString& name);
};
