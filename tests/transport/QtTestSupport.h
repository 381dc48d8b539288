#pragma once
// Bounded waits on the Qt event loop and a recorder of session completions.
#include <KOVModule/KOVURLSession.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kovtest {

/// Runs the event loop until done() holds or the deadline passes; true if done() held.
bool waitUntil(const std::function<bool()>& done, int deadlineMs = 10000);
/// Runs the event loop for a while, to give a wrong extra event the chance to show.
void settle(int ms = 100);

struct Completion {
  std::optional<std::string> data;
  std::optional<KOVURLResponse> response;
  std::optional<KOVError> error;
};

/// Records every completion of the requests it made handlers for, and whether any ran
/// while the test was inside a session call.
struct Recorder {
  std::vector<Completion> calls;
  bool insideCall = false;
  bool ranInsideCall = false;

  ResponseHandler handler();
  bool waitFor(std::size_t count, int deadlineMs = 10000) {
    return waitUntil([&] { return calls.size() >= count; }, deadlineMs);
  }
};

/// Marks a session call, so a completion run from inside it is caught.
struct InsideCall {
  explicit InsideCall(Recorder& r) : recorder(r) { recorder.insideCall = true; }
  ~InsideCall() { recorder.insideCall = false; }
  Recorder& recorder;
};

}  // namespace kovtest
