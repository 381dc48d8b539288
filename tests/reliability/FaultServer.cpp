#include "FaultServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <sys/socket.h>

namespace kovrel {

Fault Fault::answer(QByteArray body, int status, QByteArray contentType) {
  Fault fault;
  fault.body = std::move(body);
  fault.status = status;
  fault.contentType = std::move(contentType);
  return fault;
}

Fault Fault::of(Kind kind, QByteArray body) {
  Fault fault;
  fault.kind = kind;
  fault.body = std::move(body);
  return fault;
}

FaultServer::FaultServer(Script script) : _script(std::move(script)) {}

FaultServer::~FaultServer() { stopListening(); }

bool FaultServer::start() {
  if (!listen(QHostAddress(QHostAddress::LocalHost), 0)) return false;
  _port = serverPort();
  return true;
}

QString FaultServer::url() const { return QStringLiteral("http://127.0.0.1:%1/wqmi3/pos.aspx").arg(_port); }

void FaultServer::stopListening() {
  close();
  const auto sockets = _sockets;
  _sockets.clear();
  for (QTcpSocket* socket : sockets) {
    socket->disconnect(this);
    socket->abort();
    socket->deleteLater();
  }
}

void FaultServer::incomingConnection(qintptr descriptor) {
  auto* socket = new QTcpSocket(this);  // owned by the server, deleted when it closes
  if (!socket->setSocketDescriptor(descriptor)) {
    socket->deleteLater();
    return;
  }
  _sockets.append(socket);
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onReadable(socket); });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
    _sockets.removeAll(socket);
    socket->deleteLater();
  });
}

void FaultServer::onReadable(QTcpSocket* socket) {
  // One buffer per connection, kept on the socket; requests may arrive in pieces.
  QByteArray buffer = socket->property("kovBuffer").toByteArray() + socket->readAll();
  for (;;) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) break;
    qsizetype length = 0;
    for (const QByteArray& line : buffer.left(headEnd).split('\n')) {
      if (line.trimmed().toLower().startsWith("content-length:")) {
        length = line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
      }
    }
    if (buffer.size() < headEnd + 4 + length) break;
    const QByteArray body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);
    _bodies.append(body);
    act(socket, _script(static_cast<int>(_bodies.size()), body));
    if (!_sockets.contains(socket)) return;  // the action closed it
  }
  socket->setProperty("kovBuffer", buffer);
}

void FaultServer::reset(QTcpSocket* socket) {
  // A zero linger time makes the close an RST instead of an orderly FIN.
  const linger hard{1, 0};
  ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  socket->abort();
}

void FaultServer::act(QTcpSocket* socket, const Fault& fault) {
  auto head = [&fault](qsizetype length) {
    return QByteArray("HTTP/1.1 ") + QByteArray::number(fault.status) + " Status\r\nContent-Type: " +
           fault.contentType + "\r\nContent-Length: " + QByteArray::number(length) +
           "\r\nConnection: keep-alive\r\n\r\n";
  };
  switch (fault.kind) {
    case Fault::Hold:
      return;
    case Fault::ResetBeforeBody:
      _sockets.removeAll(socket);
      reset(socket);
      socket->deleteLater();
      return;
    case Fault::ResetInBody: {
      const QByteArray body = fault.body.isEmpty() ? QByteArray("<Scr><DL1>PROCESSING</DL1><DL2>PLEASE WAIT</DL2></Scr>")
                                                   : fault.body;
      socket->write(head(body.size()) + body.left(body.size() / 2));
      socket->flush();
      _sockets.removeAll(socket);
      // Later, so the part already written reaches the client before the reset.
      QTimer::singleShot(50, socket, [socket] {
        reset(socket);
        socket->deleteLater();
      });
      return;
    }
    case Fault::Answer:
    case Fault::AnswerThenRefuse:
      socket->write(head(fault.body.size()) + fault.body);
      if (fault.kind == Fault::AnswerThenRefuse) {
        socket->flush();
        close();  // no new connections from here on
        _sockets.removeAll(socket);
        socket->disconnectFromHost();  // orderly: the answer is delivered first
      }
      return;
  }
}

QString refusedUrl() {
  QTcpServer probe;
  probe.listen(QHostAddress(QHostAddress::LocalHost), 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return QStringLiteral("http://127.0.0.1:%1/wqmi3/pos.aspx").arg(port);
}

}  // namespace kovrel
