#pragma once
// An answer of the bridge's interface: a status and a JSON body.
#include <string>

namespace kovbridge {

/// A status with its JSON body.
struct BridgeAnswer {
  int status = 200;
  std::string body;

  /// {"error":message}.
  static BridgeAnswer error(int status, const std::string& message);
  /// {"txnRef":...,"events":"/v1/transactions/REF/events"}, the reference percent-encoded.
  static BridgeAnswer transaction(int status, const std::string& txnRef);
  /// {"txnRef":...}: an operation on the transaction was done or asked for.
  static BridgeAnswer reference(int status, const std::string& txnRef);
};

}  // namespace kovbridge
