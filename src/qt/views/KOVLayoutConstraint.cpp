#include <KOVModule/KOVLayoutConstraint.h>

namespace kov {

LayoutConstraint::LayoutConstraint(const QString& name, double constant, QObject* parent)
    : QObject(parent), _constant(constant) {
  setObjectName(name);
}

void LayoutConstraint::setConstant(double constant) {
  if (constant == _constant) return;
  _constant = constant;
  emit constantChanged(constant);
}

}  // namespace kov
