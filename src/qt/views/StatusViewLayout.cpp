#include "StatusViewLayout.h"

#include <QDialog>

#include <KOVModule/KOVLayoutConstraint.h>

#include "ui_StatusView.h"

void buildStatusViewLayout(QDialog& root) {
  Ui::StatusView ui;
  ui.setupUi(&root);
  // Designer has no constraint objects; these carry the three values the screen sets
  // before each layout pass, and the screen places its parts from them.
  new KOVLayoutConstraint(QStringLiteral("headerHeightConstraint"), 50.0, &root);
  new KOVLayoutConstraint(QStringLiteral("activityIndicatorTopConstraint"), 0.0, &root);
  new KOVLayoutConstraint(QStringLiteral("detailsContainerCenterYConstraint"), 0.0, &root);
}
