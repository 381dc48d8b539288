#pragma once
// A loopback HTTP/1.1 server that misbehaves on purpose: for each request the test's script
// picks an answer or a fault (hold the line, reset the connection before or inside the body,
// stop listening so the next connection is refused). Everything runs on the test's thread.
#include <QByteArray>
#include <QList>
#include <QString>
#include <QTcpServer>

#include <functional>

class QTcpSocket;

namespace kovrel {

/// What the server does with one request.
struct Fault {
  enum Kind {
    Answer,           // a complete HTTP answer
    Hold,             // read the request, never answer, keep the line open
    ResetBeforeBody,  // reset the connection (RST) without answering
    ResetInBody,      // send the head and part of the body, then reset
    AnswerThenRefuse  // answer, then close every connection and stop listening
  };
  Kind kind = Answer;
  int status = 200;
  QByteArray body;
  QByteArray contentType = "text/xml; charset=utf-8";

  static Fault answer(QByteArray body, int status = 200, QByteArray contentType = "text/xml; charset=utf-8");
  static Fault of(Kind kind, QByteArray body = {});
};

class FaultServer : public QTcpServer {
  Q_OBJECT

 public:
  /// Gets the request's number (1 for the first) and body; returns what to do with it.
  using Script = std::function<Fault(int number, const QByteArray& body)>;

  explicit FaultServer(Script script);
  ~FaultServer() override;

  /// Listens on 127.0.0.1 with a port the system picks.
  bool start();
  QString url() const;
  /// Closes every connection and the listening socket: later connections are refused.
  void stopListening();

  const QList<QByteArray>& bodies() const { return _bodies; }
  int requestCount() const { return static_cast<int>(_bodies.size()); }

 protected:
  void incomingConnection(qintptr descriptor) override;

 private:
  void onReadable(QTcpSocket* socket);
  void act(QTcpSocket* socket, const Fault& fault);
  static void reset(QTcpSocket* socket);

  Script _script;
  QList<QByteArray> _bodies;
  QList<QTcpSocket*> _sockets;
  quint16 _port = 0;
};

/// A loopback URL nothing listens on (a port the system gave out and took back).
QString refusedUrl();

}  // namespace kovrel
