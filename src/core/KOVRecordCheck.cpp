// Whether a record goes on the wire as the host meant it: the fields in the order the
// transaction request writes them, then the amount, then what the type needs.
#include <KOVModule/KOVRecordCheck.h>

#include <array>

#include "core/KOVDocumentWriter.h"
#include "core/WqKOVLimits.h"
#include "util/KOVText.h"

namespace {

using TextField = std::optional<std::string> KOVTransactionDetails::*;

struct CheckedField {
  const char* name;
  TextField field;
  bool attribute;  // written as an attribute value, where a parser turns TAB, LF and CR into spaces
  bool needed;     // the strict level refuses it missing or empty
};

const std::array<CheckedField, 13> kFields{{
    {"userName", &KOVTransactionDetails::userName, true, true},
    {"key", &KOVTransactionDetails::key, true, true},
    {"txnRef", &KOVTransactionDetails::txnRef, false, true},
    {"qelTxnRef", &KOVTransactionDetails::qelTxnRef, false, false},
    {"stationId", &KOVTransactionDetails::stationId, false, false},
    {"currencyCode", &KOVTransactionDetails::currencyCode, false, false},
    {"deviceId", &KOVTransactionDetails::deviceId, false, false},
    {"posName", &KOVTransactionDetails::posName, false, false},
    {"posVersion", &KOVTransactionDetails::posVersion, false, false},
    {"vendorId", &KOVTransactionDetails::vendorId, false, false},
    {"merchantRef", &KOVTransactionDetails::merchantRef, false, false},
    {"urlSuccess", &KOVTransactionDetails::urlSuccess, false, false},
    {"urlFail", &KOVTransactionDetails::urlFail, false, false},
}};

// DEL, or a C1 control (U+0080 to U+009F: C2 80 to C2 9F in UTF-8). Valid UTF-8 is assumed.
bool holdsDelOrC1(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == 0x7F || (byte == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9F)) {
      return true;
    }
  }
  return false;
}

std::optional<std::string> textRefusal(const CheckedField& entry, const std::optional<std::string>& value,
                                       KOVRecordCheckLevel level) {
  const std::string field = std::string("The ") + entry.name;
  if (!value) {
    return level == KOVRecordCheckStrict && entry.needed ? std::optional(field + " is missing.") : std::nullopt;
  }
  if (value->empty()) {
    return level == KOVRecordCheckStrict && entry.needed ? std::optional(field + " is empty.") : std::nullopt;
  }
  std::string why;
  if (!kov::text::isXmlText(*value, &why)) {
    return field + " cannot be sent: " + why + ".";
  }
  // Every XML parser reads CR and CR LF as LF, and TAB, LF and CR in an attribute value as a
  // space: two references that differ only there reach the service as one.
  if (value->find('\r') != std::string::npos) {
    return field + " cannot be sent: it holds a carriage return, which the service would read as a line feed.";
  }
  if (entry.attribute && value->find_first_of("\t\n") != std::string::npos) {
    return field + " cannot be sent: it holds a tab or a line break, which the service would read as a space.";
  }
  if (level == KOVRecordCheckStrict && holdsDelOrC1(*value)) {
    return field + " cannot be sent: it holds a control character (DEL, or U+0080 to U+009F).";
  }
  return std::nullopt;
}

std::optional<std::string> amountRefusal(const std::optional<KOVDecimal>& amount, KOVRecordCheckLevel level) {
  if (!amount) {
    return std::nullopt;
  }
  const std::optional<std::string> sent = KOVDocumentWriter::amountText(amount);
  if (!sent) {
    return std::string(kov::limits::kAmountOutOfRangeText);
  }
  if (amount->isNegative() && !(*amount == KOVDecimal())) {
    return std::string(kov::limits::kAmountNegativeText);
  }
  if (level == KOVRecordCheckStrict && !(KOVDecimal::parse(*sent) == *amount)) {
    return "The amount " + amount->toString() + " has more than two decimals: it would be sent as " + *sent + ".";
  }
  return std::nullopt;
}

std::optional<std::string> check(const KOVTransactionDetails& details, std::optional<KOVTransactionType> type,
                                 KOVRecordCheckLevel level) {
  for (const CheckedField& entry : kFields) {
    if (std::optional<std::string> refusal = textRefusal(entry, details.*entry.field, level)) {
      return refusal;
    }
  }
  if (std::optional<std::string> refusal = amountRefusal(details.amount, level)) {
    return refusal;
  }
  // A purchase, an authorisation or a refund moves money: without its amount or currency it
  // would go out as 0.00 of nothing.
  const bool movesMoney =
      type == KOVTransactionTypePurchase || type == KOVTransactionTypeAuth || type == KOVTransactionTypeRefund;
  if (level == KOVRecordCheckStrict && movesMoney) {
    const std::string kind = KOVDocumentWriter::typeName(*type);
    if (!details.amount) {
      return "A " + kind + " needs an amount.";
    }
    if (!details.currencyCode || details.currencyCode->empty()) {
      return "A " + kind + " needs a currencyCode.";
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> KOVRecordCheck::refusalOf(const KOVTransactionDetails& details, KOVTransactionType txnType,
                                                     KOVRecordCheckLevel level) {
  return check(details, txnType, level);
}

std::optional<std::string> KOVRecordCheck::refusalOf(const KOVTransactionRecoveryDetails& details,
                                                     KOVRecordCheckLevel level) {
  KOVTransactionDetails asDetails;
  asDetails.userName = details.userName;
  asDetails.key = details.key;
  asDetails.stationId = details.stationId;
  asDetails.txnRef = details.txnRef;
  return check(asDetails, std::nullopt, level);
}
