#include <KOVModule/KOVDataUtils.h>

#include <QDir>
#include <QFileInfo>

// The bundle is compiled into the library; a static library must register it by hand.
static void registerBundleResources() {
  Q_INIT_RESOURCE(KOVModuleResources);
}

QString KOVDataUtils::FrameworkBundle() {
  static const QString frameworkBundle = [] {
    registerBundleResources();
    const QString path = QStringLiteral(":/KOVModuleResources.bundle");
    return QFileInfo(path).isDir() ? path : QString();
  }();
  return frameworkBundle;
}

QImage KOVDataUtils::ImageFromBundle(const QString& name) {
  const QString bundle = FrameworkBundle();
  if (bundle.isEmpty() || name.isEmpty()) return {};
  const QString file = bundle + QLatin1Char('/') + name + QStringLiteral(".png");
  if (!QFileInfo::exists(file)) return {};
  return QImage(file);
}
