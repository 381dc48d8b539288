#pragma once
// The engine's loop, run by asio: the bridge has one thread and one io_context.
#include <KOVModule/KOVPollLoop.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>

namespace kovbridge {

/// Drives a KOVPollLoop from an io_context: waits for its descriptor to be readable and for
/// its next timer, and runs processReady() then. Nothing polls: between events the process
/// sleeps in the io_context.
class BridgeLoopDriver {
 public:
  BridgeLoopDriver(boost::asio::io_context& io, std::shared_ptr<KOVPollLoop> loop);
  ~BridgeLoopDriver();
  BridgeLoopDriver(const BridgeLoopDriver&) = delete;
  BridgeLoopDriver& operator=(const BridgeLoopDriver&) = delete;

  /// Re-arms the timer after something touched the engine (a closure it posted, a timer it
  /// set, a request it sent).
  void kick();
  /// Stops waiting; the loop's descriptor stays the loop's.
  void stop();

 private:
  void waitReadable();
  void process();

  std::shared_ptr<KOVPollLoop> _loop;
  boost::asio::posix::stream_descriptor _descriptor;
  boost::asio::steady_timer _timer;
  bool _stopped = false;
};

}  // namespace kovbridge
