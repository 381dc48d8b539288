#pragma once
#include <QWidget>

/// Tells assistive technology what the status screen now shows, without taking the focus:
/// an invisible, zero-sized notification whose name is the announcement. Screen readers speak
/// a notification when it is shown, so each announcement shows it anew; a label that changes
/// without the focus would not be spoken.
class KOVScreenAnnouncer : public QWidget {
  Q_OBJECT

 public:
  explicit KOVScreenAnnouncer(QWidget* parent = nullptr);

  /// Shows the notification again with text as its name.
  void announce(const QString& text);
};
