// The result record as C hosts receive it: each text of the record in the kov_result member
// that the record's list names, and no text of the list without its member.
#include <KOVModule/kov.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "c/CResultView.h"
#include "core/KOVResultText.h"

namespace {

struct Member {
  std::string_view name;
  const char* kov_result::*member;
};

#define KOV_MEMBER(m) \
  Member { #m, &kov_result::m }
// kov_result's texts from the record, under their declared names.
constexpr std::array kTextMembers{
    KOV_MEMBER(auth_code),        KOV_MEMBER(masked_card_number),
    KOV_MEMBER(card_name),        KOV_MEMBER(response_text),
    KOV_MEMBER(response_code),    KOV_MEMBER(receipt),
    KOV_MEMBER(transaction_date), KOV_MEMBER(retrieval_ref_number),
    KOV_MEMBER(expected_settlement_date), KOV_MEMBER(expected_settlement_date_time_zone),
    KOV_MEMBER(transaction_date_time_zone), KOV_MEMBER(pix),
    KOV_MEMBER(rid),              KOV_MEMBER(qel_txn_ref),
    KOV_MEMBER(card_number2),     KOV_MEMBER(qel_billing_id),
};
#undef KOV_MEMBER

// They are the whole run of texts from auth_code to qel_billing_id, and the list has as many.
static_assert(offsetof(kov_result, qel_billing_id) - offsetof(kov_result, auth_code) ==
              (kTextMembers.size() - 1) * sizeof(const char*));
static_assert(kTextMembers.size() == kKOVResultTexts.size(), "a text of the record without its kov_result member");

// Every text holds its own name, so a text in another member shows which.
KOVTransactionResultDetails namedRecord() {
  KOVTransactionResultDetails record;
  for (const KOVResultText& text : kKOVResultTexts) record.*text.field = std::string(text.name);
  return record;
}

class ResultText : public testing::TestWithParam<KOVResultText> {};

TEST_P(ResultText, ReachesTheMemberOfItsNameAndNullWhenAbsent) {
  const auto found = std::find_if(kTextMembers.begin(), kTextMembers.end(),
                                  [](const Member& m) { return m.name == GetParam().snakeName; });
  ASSERT_NE(found, kTextMembers.end()) << "kov_result has no member " << GetParam().snakeName;
  KOVTransactionResultDetails record = namedRecord();
  EXPECT_EQ(std::string(CResultView(record, "T-1", {}).result().*found->member), GetParam().name);
  record.*GetParam().field = std::nullopt;
  EXPECT_EQ(CResultView(record, "T-1", {}).result().*found->member, nullptr);
}

INSTANTIATE_TEST_SUITE_P(CResultView, ResultText, testing::ValuesIn(kKOVResultTexts),
                         [](const testing::TestParamInfo<KOVResultText>& info) { return std::string(info.param.name); });

TEST(CResultView, CarriesTheCodeWidthAnswerAndOutcome) {
  KOVTransactionResultDetails record = namedRecord();
  record.transactionResult = KOVTransactionResultSessionInitError;
  record.receiptLineWidth = 24;
  record.response = std::make_shared<NSStringDictionary>(NSStringDictionary{{"Scr/A", "1"}, {"Scr/B", "2"}});
  const CResultView view(record, "T-1", KOVTransactionOutcome{.txnRef = "T-1", .reason = "connection refused", .requestSent = false});
  const kov_result& c = view.result();
  EXPECT_EQ(c.size, sizeof(kov_result));
  EXPECT_EQ(c.result, KOV_RESULT_SESSION_INIT_ERROR);
  EXPECT_EQ(c.receipt_line_width, 24);
  ASSERT_EQ(c.response_count, 2u);
  EXPECT_EQ(std::string(c.response_keys[1]) + "=" + c.response_values[1], "Scr/B=2");
  EXPECT_EQ(std::string(c.txn_ref) + "|" + c.reason + "|" + std::to_string(c.request_sent), "T-1|connection refused|0");
  const CResultView timeout(KOVTransactionResultDetails::initWithResult(KOVTransactionResultTimeout), "T-2", {});
  EXPECT_EQ(timeout.result().response_count, 0u);
  EXPECT_EQ(timeout.result().reason, nullptr);
  EXPECT_EQ(timeout.result().request_sent, 1);
}

}  // namespace
