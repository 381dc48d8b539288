#pragma once
// kov-simulator run as a program on loopback for the transport benchmarks.
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace kovbench {

class BenchSimulator {
 public:
  /// Starts the program on 127.0.0.1 with a free port and the extra options; with tls, a
  /// fresh CA is written to a temporary folder.
  BenchSimulator(const QString& program, const QStringList& extraArgs, bool tls);
  ~BenchSimulator();
  BenchSimulator(const BenchSimulator&) = delete;
  BenchSimulator& operator=(const BenchSimulator&) = delete;

  bool running() const { return !_url.isEmpty(); }
  /// The service URL (".../wqmi3/pos.aspx").
  const QString& url() const { return _url; }
  /// The test CA's PEM file (tls only).
  QString caFile() const;
  /// The "/_sim/stats" document (empty when it could not be read). Each call is one
  /// more connection in the simulator's count.
  QJsonObject stats() const;
  /// Connections the simulator accepted so far, before this call's own.
  long long connections() const;

 private:
  QProcess _process;
  std::unique_ptr<QTemporaryDir> _certDir;
  QString _url;
};

}  // namespace kovbench
