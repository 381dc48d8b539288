#pragma once
// Button presses from standard input, a line at a time, read from the event loop.
#include <KOVModule/KOVEventLoop.h>

#include <functional>
#include <memory>
#include <string>

namespace kovcli {

/// Watches standard input on the loop and hands each line, trimmed of blanks, to onLine.
/// Stops by itself at the end of input.
class CliButtonReader {
 public:
  CliButtonReader(std::shared_ptr<KOVEventLoop> loop, std::function<void(const std::string&)> onLine);
  ~CliButtonReader();
  CliButtonReader(const CliButtonReader&) = delete;
  CliButtonReader& operator=(const CliButtonReader&) = delete;

  /// No more presses are read.
  void stop();

 private:
  void readAvailable();

  std::shared_ptr<KOVEventLoop> _loop;
  std::function<void(const std::string&)> _onLine;
  std::string _pending;
  bool _watching = false;
};

}  // namespace kovcli
