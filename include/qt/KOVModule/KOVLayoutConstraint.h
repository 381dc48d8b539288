#pragma once
#include <KOVModule/KOVExport.h>
#include <QObject>

namespace kov {

/// A named layout value of the status screen (a height, a vertical offset) that the screen
/// adjusts before each layout pass; the layout places its widgets from these constants.
class KOV_QT_EXPORT LayoutConstraint : public QObject {
  Q_OBJECT

 public:
  /// A constraint with the given object name and constant, owned by parent.
  LayoutConstraint(const QString& name, double constant, QObject* parent);

  /// The constant, in device-independent pixels.
  double constant() const { return _constant; }
  /// Sets the constant; emits constantChanged when it differs.
  void setConstant(double constant);

 signals:
  /// The constant changed; the layout is placed again.
  void constantChanged(double constant);

 private:
  double _constant;
};

}  // namespace kov
