#include <KOVModule/KOVLayoutConstraint.h>

KOVLayoutConstraint::KOVLayoutConstraint(const QString& name, double constant, QObject* parent)
    : QObject(parent), _constant(constant) {
  setObjectName(name);
}

void KOVLayoutConstraint::setConstant(double constant) {
  if (constant == _constant) return;
  _constant = constant;
  emit constantChanged(constant);
}
