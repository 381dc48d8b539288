#pragma once
#include <set>
#include <string>

#include "SimCertificates.h"
#include "SimScenario.h"

namespace kovsim {

/// Everything a run of the simulator is configured with (the command line's options).
struct SimConfig {
  std::string host = "127.0.0.1";
  int port = 8080;                ///< 0 lets the system choose a free port
  bool allowRemote = false;       ///< listening on an address other than loopback
  bool tls = false;
  std::string certDir;            ///< where the test CA and the server certificate are written
  SimCertificateKind certificate = SimCertificateKind::Valid;  ///< the certificate served with tls
  bool oldTls = false;            ///< with tls: only TLS 1.0 and 1.1, which clients must refuse
  SimScenario scenario;           ///< of every transaction that does not choose its own
  double speed = 1.0;             ///< clock factor of the terminal's screens
  int tmoSeconds = 30;            ///< the poll time-out sent in every screen answer
  int holdMs = -1;                ///< longest hold of a status request; below 0: 90 % of the Tmo
  std::string user = "merchant";
  std::string key = "s3cret";
  std::set<std::string> stations;  ///< known stations; empty: every non-empty station id
  std::set<std::string> offline;   ///< stations whose terminal is not connected

  /// The hold limit in milliseconds that applies.
  int effectiveHoldMs() const { return holdMs >= 0 ? holdMs : tmoSeconds * 900; }
};

}  // namespace kovsim
