#pragma once
#include <KOVModule/KOVExport.h>
#include <string>

namespace kov {

/// Where the merchant key may be sent: https to any host, plain http only to this machine.
/// The engine, the transport and the simulator all ask this one policy.
class KOV_CORE_EXPORT EndpointPolicy {
 public:
  EndpointPolicy() = delete;
  /// Whether host names this machine: "localhost" (any case), "::1" (bracketed or not), or
  /// 127.0.0.0/8 written as four decimal numbers.
  static bool isLoopbackHost(const std::string& host);
  /// Whether url may carry the merchant key; why says what is wrong when it may not.
  static bool isAcceptable(const std::string& url, std::string* why = nullptr);
};

}  // namespace kov
