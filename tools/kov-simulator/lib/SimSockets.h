#pragma once
#include <set>
#include <string>
#include <utility>

namespace kovsim {

/// Shuts down (without closing: the server still owns the descriptor) the accepted
/// connection of this process whose local port is localPort and whose peer is
/// peerAddress:peerPort. The peer then sees the connection end without an answer.
/// True when such a connection was found.
bool shutdownConnection(int localPort, const std::string& peerAddress, int peerPort);

/// Resets (RST) the accepted connection found as for shutdownConnection, leaving the
/// descriptor to the server, which then sees every write fail. True when it was found.
bool resetConnection(int localPort, const std::string& peerAddress, int peerPort);

/// Shuts down every accepted connection of this process on localPort, so idle
/// keep-alive connections end at once when the server stops. The number shut down.
/// Connections whose peer is in spare are left alone.
int shutdownConnections(int localPort, const std::set<std::pair<std::string, int>>& spare = {});

}  // namespace kovsim
