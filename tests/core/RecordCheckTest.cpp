// What the one check of a record refuses, at each level, and the exact text each surface
// shows: the first field in the order the transaction request writes them is named.
#include <gtest/gtest.h>

#include <KOVModule/KOVRecordCheck.h>

#include <functional>

#include "SampleDetails.h"

namespace {

constexpr auto kFacade = KOVRecordCheckFacade;
constexpr auto kStrict = KOVRecordCheckStrict;

struct CheckCase {
  const char* name;
  std::function<void(KOVTransactionDetails&)> change;
  KOVRecordCheckLevel level;
  std::string expected;  // "" for none
  KOVTransactionType type = KOVTransactionTypePurchase;
  bool recovery = false;  // checked as a recovery of the record's user, key, station and reference
};

class RecordCheck : public ::testing::TestWithParam<CheckCase> {};

TEST_P(RecordCheck, RefusesWhatWouldNotArriveAsMeant) {
  const CheckCase& c = GetParam();
  auto d = kovtest::sampleDetails();
  if (c.change) c.change(*d);
  KOVTransactionRecoveryDetails r;
  r.userName = d->userName;
  r.key = d->key;
  r.stationId = d->stationId;
  r.txnRef = d->txnRef;
  const auto refusal = c.recovery ? KOVRecordCheck::refusalOf(r, c.level) : KOVRecordCheck::refusalOf(*d, c.type, c.level);
  EXPECT_EQ(refusal.value_or(""), c.expected);
}

const char* const kXmlCannot = "holds a character XML cannot carry (a control character, U+FFFE or U+FFFF).";

INSTANTIATE_TEST_SUITE_P(
    Table, RecordCheck,
    ::testing::Values(
        // Tab and LF stay as written in element text, U+FFFD and characters outside the basic
        // plane are text; a CR would arrive as LF, so two references differing there are one.
        CheckCase{"SendableText", [](auto& d) { d.merchantRef = "a\tb\nc \xEF\xBF\xBD \xF0\x9F\x98\x80"; }, kStrict, ""},
        CheckCase{"CarriageReturnAnywhere", [](auto& d) { d.txnRef = "Z\rn"; }, kFacade,
                  "The txnRef cannot be sent: it holds a carriage return, which the service would read as a line "
                  "feed."},
        CheckCase{"TabInTheUser", [](auto& d) { d.userName = "mer\tchant"; }, kFacade,
                  "The userName cannot be sent: it holds a tab or a line break, which the service would read as a "
                  "space."},
        CheckCase{"LineBreakInTheKey", [](auto& d) { d.key = "s3\ncret"; }, kFacade,
                  "The key cannot be sent: it holds a tab or a line break, which the service would read as a space."},
        CheckCase{"ControlCharacterNamesTheFirstField",
                  [](auto& d) {
                    d.stationId = "S\x01";
                    d.userName = std::string("u\0", 2);
                  },
                  kFacade, std::string("The userName cannot be sent: it ") + kXmlCannot},
        CheckCase{"NotUtf8", [](auto& d) { d.urlFail = "caf\xE9"; }, kFacade,
                  "The urlFail cannot be sent: it is not valid UTF-8."},
        CheckCase{"LoneSurrogateInTheKey", [](auto& d) { d.key = "\xED\xA0\x80"; }, kFacade,
                  "The key cannot be sent: it is not valid UTF-8."},
        CheckCase{"NonCharacter", [](auto& d) { d.currencyCode = "\xEF\xBF\xBE"; }, kFacade,
                  std::string("The currencyCode cannot be sent: it ") + kXmlCannot},
        CheckCase{"DelAndC1OnlyWhenStrict", [](auto& d) { d.posName = "Till\x7F"; }, kFacade, ""},
        CheckCase{"Del", [](auto& d) { d.posName = "Till\x7F"; }, kStrict,
                  "The posName cannot be sent: it holds a control character (DEL, or U+0080 to U+009F)."},
        CheckCase{"NextLine", [](auto& d) { d.stationId = "ST\xC2\x85"; }, kStrict,
                  "The stationId cannot be sent: it holds a control character (DEL, or U+0080 to U+009F)."},
        CheckCase{"AmountThatDoesNotFit", [](auto& d) { d.amount = KOVDecimal::parse("1000000000000000000000"); },
                  kFacade, "The amount cannot be sent: in cents it does not fit in a signed 64-bit number."},
        CheckCase{"NegativeAmount", [](auto& d) { d.amount = KOVDecimal::parse("-1.00"); }, kFacade,
                  "The amount cannot be sent: it is negative (a refund is a transaction type of its own)."},
        CheckCase{"NegativeZeroIsZero", [](auto& d) { d.amount = KOVDecimal::parse("-0.00"); }, kStrict, ""},
        CheckCase{"ThirdDecimalCutOnlyByTheFacade", [](auto& d) { d.amount = KOVDecimal::parse("12.509"); }, kFacade,
                  ""},
        CheckCase{"ThirdDecimal", [](auto& d) { d.amount = KOVDecimal::parse("0.001"); }, kStrict,
                  "The amount 0.001 has more than two decimals: it would be sent as 0.00."},
        CheckCase{"TrailingZerosAreExact", [](auto& d) { d.amount = KOVDecimal::parse("12.5000"); }, kStrict, ""},
        CheckCase{"PurchaseWithoutAmount", [](auto& d) { d.amount.reset(); }, kStrict,
                  "A Purchase needs an amount."},
        CheckCase{.name = "RefundWithoutCurrency", .change = [](auto& d) { d.currencyCode = ""; }, .level = kStrict,
                  .expected = "A Refund needs a currencyCode.", .type = KOVTransactionTypeRefund},
        CheckCase{.name = "CompletionTakesTheAuthorisedAmount",
                  .change =
                      [](auto& d) {
                        d.amount.reset();
                        d.currencyCode.reset();
                      },
                  .level = kStrict, .expected = "", .type = KOVTransactionTypeComplete},
        CheckCase{"MissingKey", [](auto& d) { d.key.reset(); }, kStrict, "The key is missing."},
        CheckCase{"EmptyReference", [](auto& d) { d.txnRef = ""; }, kStrict, "The txnRef is empty."},
        CheckCase{"EmptyReferenceLeftToTheServiceByTheFacade", [](auto& d) { d.txnRef = ""; }, kFacade, ""},
        CheckCase{.name = "RecoveryNeedsItsUser", .change = [](auto& d) { d.userName.reset(); }, .level = kStrict,
                  .expected = "The userName is missing.", .recovery = true},
        CheckCase{.name = "RecoveryMayLeaveTheStationToTheJournal",
                  .change =
                      [](auto& d) {
                        d.stationId.reset();
                        d.amount.reset();
                      },
                  .level = kStrict, .expected = "", .recovery = true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
