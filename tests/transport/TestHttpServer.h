#pragma once
// A small HTTP/1.1 server on loopback for the transport's tests: it records every request
// as it arrived and answers as each test scripts it (answer, close, hold, reset, stop
// listening), over plain TCP or TLS. Everything runs on the test's thread.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <vector>

class QTcpSocket;

namespace kovtest {

struct HttpRequest {
  int number = 0;      // 1 for the first request received, 2 for the next ...
  int connection = 0;  // 1 for the first connection accepted, 2 for the next ...
  QByteArray method;
  QByteArray path;
  QList<QPair<QByteArray, QByteArray>> headers;  // names lower-cased, in order
  QByteArray body;

  /// The value of a header, empty when absent.
  QByteArray header(const QByteArray& lowerName) const;
};

/// What the server does with one request.
struct ServerAction {
  enum Kind { Answer, Close, Hold, Reset };
  Kind kind = Answer;
  int status = 200;
  QByteArray body = "<Scr></Scr>";
  bool chunked = false;     // send the body in chunks, without a length
  bool finishBody = true;   // with chunked: false leaves the body unfinished and the line open
  int cutAfterBytes = -1;   // close the connection after this much of the answer
  bool resetAtCut = false;  // with cutAfterBytes: reset (RST) the line a moment after the cut
  bool stopListening = false;  // after the answer: close the line and refuse new connections

  static ServerAction answer(QByteArray body, int status = 200);
  static ServerAction close();
  static ServerAction hold();
  /// Resets the connection (RST instead of an orderly close) without answering.
  static ServerAction reset();
};

class TestHttpServer : public QTcpServer {
 public:
  using Handler = std::function<ServerAction(const HttpRequest&)>;

  TestHttpServer();
  ~TestHttpServer() override;

  /// Answers every request with the action the handler returns (default: 200 "<Scr></Scr>").
  void setHandler(Handler handler) { _handler = std::move(handler); }
  /// Serves TLS with this certificate and key instead of plain HTTP.
  void useTls(QSslCertificate certificate, QSslKey key);
  /// Listens on 127.0.0.1 with a port the system picks.
  bool start();
  /// The service URL on this server.
  QString url(const QString& path = QStringLiteral("/wqmi3/pos.aspx")) const;
  /// A loopback service URL nothing listens on (a port the system gave out and took back).
  static QString refusedUrl();

  const std::vector<HttpRequest>& requests() const { return _requests; }
  int connectionsAccepted() const { return _accepted; }
  int connectionsClosed() const { return _closed; }
  /// Bytes of application data received (after decryption), over all connections.
  qint64 bytesReceived() const { return _bytesReceived; }

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  void serve(QTcpSocket* socket, int connection);
  void onData(QTcpSocket* socket, int connection, QByteArray& buffer);
  void act(QTcpSocket* socket, const ServerAction& action);
  static void reset(QTcpSocket* socket);

  Handler _handler;
  bool _tls = false;
  QSslCertificate _certificate;
  QSslKey _key;
  std::vector<HttpRequest> _requests;
  int _accepted = 0;
  int _closed = 0;
  qint64 _bytesReceived = 0;
};

}  // namespace kovtest
