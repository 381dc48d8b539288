#include "ChildProcess.h"

#include <QEventLoop>
#include <QStringList>
#include <QTimer>

#include <signal.h>

namespace kovit {

using Clock = std::chrono::steady_clock;

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args) {
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  process_.start(QString::fromStdString(program), list);
  started_ = process_.waitForStarted(10000);
}

ChildProcess::~ChildProcess() {
  if (process_.state() != QProcess::NotRunning) {
    process_.kill();
    process_.waitForFinished(5000);
  }
}

void ChildProcess::split(std::string& buffer, std::vector<std::string>& lines) {
  std::size_t eol;
  while ((eol = buffer.find('\n')) != std::string::npos) {
    lines.push_back(buffer.substr(0, eol));
    buffer.erase(0, eol + 1);
  }
}

void ChildProcess::pump(int waitMs) {
  // Waits on the event loop so that output on either channel (or the end) wakes it.
  if (waitMs > 0 && process_.state() != QProcess::NotRunning) {
    QEventLoop loop;
    QTimer::singleShot(waitMs, &loop, &QEventLoop::quit);
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &loop, &QEventLoop::quit);
    QObject::connect(&process_, &QProcess::readyReadStandardError, &loop, &QEventLoop::quit);
    QObject::connect(&process_, &QProcess::finished, &loop, &QEventLoop::quit);
    loop.exec();
  }
  outBuffer_ += process_.readAllStandardOutput().toStdString();
  errBuffer_ += process_.readAllStandardError().toStdString();
  split(outBuffer_, out_);
  split(errBuffer_, err_);
}

std::optional<std::string> ChildProcess::nextStdoutLine(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (outRead_ >= out_.size()) {
    if (Clock::now() >= deadline) return std::nullopt;
    if (process_.state() == QProcess::NotRunning) {
      pump(0);
      if (outRead_ >= out_.size()) return std::nullopt;
      break;
    }
    pump(50);
  }
  return out_[outRead_++];
}

std::optional<std::string> ChildProcess::waitForStderr(const std::string& needle, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    for (; errSeen_ < err_.size(); ++errSeen_) {
      if (err_[errSeen_].find(needle) != std::string::npos) return err_[errSeen_++];
    }
    if (Clock::now() >= deadline) return std::nullopt;
    if (process_.state() == QProcess::NotRunning) {
      pump(0);
      if (errSeen_ >= err_.size()) return std::nullopt;
      continue;
    }
    pump(50);
  }
}

void ChildProcess::writeStdin(const std::string& text) {
  process_.write(text.data(), static_cast<qint64>(text.size()));
  process_.waitForBytesWritten(5000);
}

void ChildProcess::closeStdin() { process_.closeWriteChannel(); }

std::optional<int> ChildProcess::waitForExit(std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  while (process_.state() != QProcess::NotRunning && Clock::now() < deadline) pump(50);
  pump(0);
  if (process_.state() != QProcess::NotRunning || process_.exitStatus() != QProcess::NormalExit) return std::nullopt;
  return process_.exitCode();
}

void ChildProcess::kill() {
  process_.kill();
  process_.waitForFinished(5000);
  pump(0);
}

void ChildProcess::terminate() { process_.terminate(); }

void ChildProcess::signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }

std::string ChildProcess::allStderr() const {
  std::string all;
  for (const auto& line : err_) all += line + "\n";
  return all + errBuffer_;
}

}  // namespace kovit
