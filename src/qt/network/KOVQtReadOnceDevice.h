#pragma once
// A request body that can be read exactly once.
#include <QByteArray>
#include <QIODevice>

namespace kovqt {

/// A sequential device over a body that cannot be rewound. Qt's HTTP layer sends a POST
/// again when a kept-alive connection closes before the answer, but only if it can rewind
/// the body; with this device it cannot, so the request reaches the wire at most once and
/// the reply fails with ContentReSendError instead.
class ReadOnceDevice final : public QIODevice {
  Q_OBJECT

 public:
  explicit ReadOnceDevice(QByteArray body, QObject* parent = nullptr);

  bool isSequential() const override { return true; }
  qint64 bytesAvailable() const override;
  qint64 size() const override { return _body.size(); }
  bool atEnd() const override { return _position >= _body.size(); }
  // Refused quietly (the base class would print a warning for a sequential device).
  bool reset() override { return false; }
  bool seek(qint64) override { return false; }

 protected:
  qint64 readData(char* data, qint64 maxSize) override;
  qint64 writeData(const char*, qint64) override { return -1; }

 private:
  QByteArray _body;
  qint64 _position = 0;
};

}  // namespace kovqt
