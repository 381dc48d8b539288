// The pure mappings the decoder is built on: the first line to a screen state, the response
// code to a result.
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

namespace {

struct StateCase {
  const char* line;
  bool completed;
  KOVState state;
};

class StateWords : public ::testing::TestWithParam<StateCase> {};

TEST_P(StateWords, FirstLineGivesTheScreenState) {
  EXPECT_EQ(WqKOV::stateLineToState(GetParam().line, GetParam().completed), GetParam().state) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateWords,
    ::testing::Values(
        StateCase{"INSERT OR SWIPE CARD", false, KOVStateAwaitingCardSwipe}, StateCase{"", false, KOVStateError},
        StateCase{"SELECT ACCOUNT", false, KOVStateAwaitingAccountSelection},
        StateCase{"ENTER PIN", false, KOVStateAwaitingPINEntry}, StateCase{"PROCESSING", false, KOVStateProcessing},
        StateCase{"SIGNATURE OK?", false, KOVStateSignatureRequired}, StateCase{"REMOVE CARD", false, KOVStateError},
        StateCase{"PIN OK, PROCESSING", false, KOVStateAwaitingPINEntry},
        StateCase{"spinning", false, KOVStateAwaitingPINEntry}, StateCase{"ACCEPTED", false, KOVStateError},
        StateCase{"ACCEPTED", true, KOVStateAccepted}, StateCase{"Declined by bank", true, KOVStateDeclined},
        StateCase{"CANCELLED", true, KOVStateCancelled}, StateCase{"DECLINED, CANCEL", true, KOVStateDeclined},
        StateCase{"INSERT", true, KOVStateError},
        // Non-ASCII lines take the full case mapping: capital dotted I lowers to i plus a
        // combining dot, so the word is not found.
        StateCase{"\xC3\x89" "CRAN ENTER PIN", false, KOVStateAwaitingPINEntry},
        StateCase{"S\xC4\xB0GNATURE", false, KOVStateError}));

struct RecoCase {
  const char* reco;
  KOVTransactionResult result;
};

class ResponseCodes : public ::testing::TestWithParam<RecoCase> {};

TEST_P(ResponseCodes, MapCaseInsensitively) {
  EXPECT_EQ(WqKOV::reCoToResultType(GetParam().reco), GetParam().result) << GetParam().reco;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponseCodes,
    ::testing::Values(RecoCase{"P7", KOVTransactionResultInvalidTransactionType},
                      RecoCase{"p8", KOVTransactionResultUserKeyNotMatched}, RecoCase{"05", KOVTransactionResultFailed},
                      RecoCase{"P9", KOVTransactionResultStationPrefixError}, RecoCase{"", KOVTransactionResultFailed},
                      RecoCase{"PB", KOVTransactionResultSessionInitError}, RecoCase{" p8", KOVTransactionResultFailed},
                      RecoCase{"pC", KOVTransactionResultExistingRequestInProgress},
                      RecoCase{"PD", KOVTransactionResultTransmitError},
                      RecoCase{"pg", KOVTransactionResultSessionInitError},
                      RecoCase{"PH", KOVTransactionResultUserIDNotMatched},
                      RecoCase{"TQ", KOVTransactionResultTerminalNotConnected}));

}  // namespace
