#pragma once
class QDialog;

/// Builds the status screen's widgets from its Designer layout "StatusView" and adds the
/// three named constraints the screen adjusts (header height, indicator top, details centre).
void buildStatusViewLayout(QDialog& root);
