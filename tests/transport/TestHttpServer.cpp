#include "TestHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

#include <sys/socket.h>

namespace kovtest {

QByteArray HttpRequest::header(const QByteArray& lowerName) const {
  for (const auto& [name, value] : headers) {
    if (name == lowerName) return value;
  }
  return {};
}

ServerAction ServerAction::answer(QByteArray body, int status) {
  ServerAction action;
  action.body = std::move(body);
  action.status = status;
  return action;
}

ServerAction ServerAction::close() {
  ServerAction action;
  action.kind = Close;
  return action;
}

ServerAction ServerAction::hold() {
  ServerAction action;
  action.kind = Hold;
  return action;
}

ServerAction ServerAction::reset() {
  ServerAction action;
  action.kind = Reset;
  return action;
}

TestHttpServer::TestHttpServer() {
  _handler = [](const HttpRequest&) { return ServerAction{}; };
}

TestHttpServer::~TestHttpServer() { close(); }

void TestHttpServer::useTls(QSslCertificate certificate, QSslKey key) {
  _tls = true;
  _certificate = std::move(certificate);
  _key = std::move(key);
}

bool TestHttpServer::start() { return listen(QHostAddress::LocalHost, 0); }

QString TestHttpServer::url(const QString& path) const {
  return QStringLiteral("%1://127.0.0.1:%2%3")
      .arg(_tls ? QStringLiteral("https") : QStringLiteral("http"))
      .arg(serverPort())
      .arg(path);
}

QString TestHttpServer::refusedUrl() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  const quint16 port = probe.serverPort();
  probe.close();
  return QStringLiteral("http://127.0.0.1:%1/wqmi3/pos.aspx").arg(port);
}

void TestHttpServer::incomingConnection(qintptr descriptor) {
  const int connection = ++_accepted;
  if (_tls) {
    auto* socket = new QSslSocket(this);
    socket->setSocketDescriptor(descriptor);
    socket->setLocalCertificate(_certificate);
    socket->setPrivateKey(_key);
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);  // the client is not authenticated
    serve(socket, connection);
    socket->startServerEncryption();
  } else {
    auto* socket = new QTcpSocket(this);
    socket->setSocketDescriptor(descriptor);
    serve(socket, connection);
  }
}

void TestHttpServer::serve(QTcpSocket* socket, int connection) {
  auto buffer = std::make_shared<QByteArray>();
  connect(socket, &QTcpSocket::readyRead, this, [this, socket, connection, buffer] {
    const QByteArray data = socket->readAll();
    _bytesReceived += data.size();
    buffer->append(data);
    onData(socket, connection, *buffer);
  });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
    ++_closed;
    socket->deleteLater();
  });
}

void TestHttpServer::onData(QTcpSocket* socket, int connection, QByteArray& buffer) {
  for (;;) {
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) return;
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    HttpRequest request;
    request.connection = connection;
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = requestLine.value(1);
    qsizetype length = 0;
    for (qsizetype i = 1; i < lines.size(); ++i) {
      const qsizetype colon = lines[i].indexOf(':');
      if (colon < 0) continue;
      const QByteArray name = lines[i].left(colon).trimmed().toLower();
      const QByteArray value = lines[i].mid(colon + 1).trimmed();
      request.headers.append({name, value});
      if (name == "content-length") length = value.toLongLong();
    }
    const qsizetype bodyStart = headEnd + 4;
    if (buffer.size() < bodyStart + length) return;
    request.body = buffer.mid(bodyStart, length);
    buffer.remove(0, bodyStart + length);
    request.number = static_cast<int>(_requests.size()) + 1;
    _requests.push_back(request);
    const ServerAction action = _handler(_requests.back());
    act(socket, action);
  }
}

void TestHttpServer::reset(QTcpSocket* socket) {
  // A zero linger time makes the close an RST instead of an orderly FIN.
  const linger hard{1, 0};
  ::setsockopt(static_cast<int>(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  socket->abort();
}

void TestHttpServer::act(QTcpSocket* socket, const ServerAction& action) {
  switch (action.kind) {
    case ServerAction::Hold:
      return;
    case ServerAction::Close:
      socket->disconnectFromHost();
      return;
    case ServerAction::Reset:
      reset(socket);
      return;
    case ServerAction::Answer:
      break;
  }
  QByteArray out = "HTTP/1.1 " + QByteArray::number(action.status) + " Status\r\n";
  out += "Content-Type: text/xml\r\nConnection: keep-alive\r\n";
  if (action.chunked) {
    out += "Transfer-Encoding: chunked\r\n\r\n";
    constexpr qsizetype kChunk = 64 * 1024;
    for (qsizetype at = 0; at < action.body.size(); at += kChunk) {
      const QByteArray chunk = action.body.mid(at, kChunk);
      out += QByteArray::number(chunk.size(), 16) + "\r\n" + chunk + "\r\n";
    }
    if (action.finishBody) out += "0\r\n\r\n";
  } else {
    out += "Content-Length: " + QByteArray::number(action.body.size()) + "\r\n\r\n" + action.body;
  }
  if (action.cutAfterBytes >= 0) {
    socket->write(out.left(action.cutAfterBytes));
    if (action.resetAtCut) {
      socket->flush();
      // Later, so the part already written reaches the client before the reset.
      QTimer::singleShot(50, socket, [socket] { reset(socket); });
    } else {
      socket->disconnectFromHost();
    }
    return;
  }
  socket->write(out);
  if (action.stopListening) {
    socket->flush();
    close();
    socket->disconnectFromHost();  // orderly: the answer is delivered first
  }
}

}  // namespace kovtest
