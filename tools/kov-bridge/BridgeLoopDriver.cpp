#include "BridgeLoopDriver.h"

#include <chrono>
#include <utility>

namespace kovbridge {

BridgeLoopDriver::BridgeLoopDriver(boost::asio::io_context& io, std::shared_ptr<KOVPollLoop> loop)
    : _loop(std::move(loop)), _descriptor(io, _loop->descriptor()), _timer(io) {
  waitReadable();
  kick();
}

BridgeLoopDriver::~BridgeLoopDriver() {
  stop();
  // The descriptor is the loop's to close.
  _descriptor.release();
}

void BridgeLoopDriver::stop() {
  _stopped = true;
  boost::system::error_code ignored;
  _descriptor.cancel(ignored);
  _timer.cancel();
}

void BridgeLoopDriver::waitReadable() {
  _descriptor.async_wait(boost::asio::posix::stream_descriptor::wait_read, [this](boost::system::error_code error) {
    if (error || _stopped) return;
    process();
    waitReadable();
  });
}

void BridgeLoopDriver::process() {
  _loop->processReady();
  kick();
}

void BridgeLoopDriver::kick() {
  if (_stopped) return;
  const int ms = _loop->timeoutMs();
  _timer.cancel();
  if (ms < 0) return;
  _timer.expires_after(std::chrono::milliseconds(ms));
  _timer.async_wait([this](boost::system::error_code error) {
    if (error || _stopped) return;
    process();
  });
}

}  // namespace kovbridge
