#include "KOVQtReadOnceDevice.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace kovqt {

ReadOnceDevice::ReadOnceDevice(QByteArray body, QObject* parent) : QIODevice(parent), _body(std::move(body)) {
  open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

qint64 ReadOnceDevice::bytesAvailable() const {
  return (_body.size() - _position) + QIODevice::bytesAvailable();
}

qint64 ReadOnceDevice::readData(char* data, qint64 maxSize) {
  const qint64 count = std::min<qint64>(maxSize, _body.size() - _position);
  if (count <= 0) {
    return _position >= _body.size() ? -1 : 0;
  }
  std::memcpy(data, _body.constData() + _position, static_cast<std::size_t>(count));
  _position += count;
  return count;
}

}  // namespace kovqt
