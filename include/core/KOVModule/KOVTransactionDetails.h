#pragma once
#include <optional>
#include <string>

#include <KOVModule/KOVDecimal.h>

/// What the host asks for in a new transaction. Null (nullopt) and empty text are
/// different values throughout: the request documents write them differently.
struct KOVTransactionDetails {
  std::optional<std::string> userName;     ///< "user" attribute of every request
  std::optional<std::string> key;          ///< "key" attribute; masked in every log
  std::optional<std::string> stationId;    ///< "Station": the terminal's station identifier
  std::optional<KOVDecimal> amount;        ///< "Amount", written with two decimals
  std::optional<std::string> currencyCode; ///< "Cur"
  std::optional<std::string> txnRef;       ///< "TxnRef": the host's reference, key of a recovery
  std::optional<std::string> qelTxnRef;    ///< "QelTxnRef", only when not empty
  std::optional<std::string> deviceId;     ///< "DeviceId"
  std::optional<std::string> posName;      ///< "PosName"
  std::optional<std::string> posVersion;   ///< "PosVersion"
  std::optional<std::string> vendorId;     ///< "VendorId"
  std::optional<std::string> merchantRef;  ///< "MRef"
  std::optional<std::string> urlSuccess;   ///< "UrlSuccess", only when not null
  std::optional<std::string> urlFail;      ///< "UrlFail", only when not null
  bool skipSignatureVerification = false;  ///< answer the signature prompt automatically
};
