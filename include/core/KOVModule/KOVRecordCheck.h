#pragma once
#include <KOVModule/KOVExport.h>
#include <cstdint>
#include <optional>
#include <string>

#include <KOVModule/KOVTransactionDetails.h>
#include <KOVModule/KOVTransactionRecoveryDetails.h>
#include <KOVModule/KOVTransactionType.h>

/// How strictly a record is checked before anything is sent.
enum KOVRecordCheckLevel : uint32_t {
  /// What cannot be sent as given: text that is not UTF-8 or holds a character XML cannot
  /// carry, a carriage return anywhere (a parser reads it as a line feed), a tab or line break
  /// in the user or key (read as a space), a negative amount, an amount beyond 64-bit cents.
  /// The C++ engine's own level.
  KOVRecordCheckFacade = 0,
  /// Also what a host cannot have meant: more than two decimals (cut on the wire), no amount
  /// or currency for a purchase, authorisation or refund, a missing or empty user, key or
  /// reference, DEL and the C1 controls (U+0080 to U+009F). kov-cli, C and Python.
  KOVRecordCheckStrict = 1,
};

/// The one check of whether a record can be sent as the host meant it, with one set of
/// refusal texts for every surface. The texts name the field, never its text (one of them is
/// the merchant key).
class KOV_CORE_EXPORT KOVRecordCheck {
 public:
  KOVRecordCheck() = delete;
  /// Why a new transaction of txnType cannot be sent as meant ("The txnRef cannot be sent:
  /// it holds a carriage return, which the service would read as a line feed."); nullopt
  /// when it can.
  static std::optional<std::string> refusalOf(const KOVTransactionDetails& details, KOVTransactionType txnType,
                                              KOVRecordCheckLevel level);
  /// The same for a recovery: its user, key, station and reference.
  static std::optional<std::string> refusalOf(const KOVTransactionRecoveryDetails& details,
                                              KOVRecordCheckLevel level);
};
