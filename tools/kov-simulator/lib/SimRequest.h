#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kovsim {

/// One request document of the client, read into its fields. Absent elements are empty.
struct SimRequest {
  std::string action;
  std::string user;
  std::string key;
  std::string txnRef;
  std::string station;
  std::string txnType;
  std::string amount;
  std::string currency;
  std::string merchantRef;
  std::string uiType;
  std::string buttonName;
  std::string buttonValue;
};

/// Reads a request body; nullopt when it is not a well-formed "Scr" document.
std::optional<SimRequest> parseRequest(std::string_view body);

}  // namespace kovsim
