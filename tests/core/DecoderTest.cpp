// The answer decoder as a table: answer in, decision out.
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include "core/KOVAnswerDecoder.h"

namespace {

struct DecoderCase {
  const char* name;
  const char* answer;
  bool skipSignature;
  // expected: "screen:<state>:<line1>:<b1>:<b2>:<timeout>", "press:<id>:<label>" or "finish:<result>"
  std::string decision;
};

std::string describe(const KOVAnswerDecision& decision) {
  if (const auto* s = std::get_if<KOVShowScreen>(&decision)) {
    return "screen:" + std::to_string(s->screen.state) + ":" + s->screen.firstLine + ":" +
           s->screen.button1.value_or("-") + ":" + s->screen.button2.value_or("-") + ":" +
           std::to_string(s->nextTimeoutSeconds);
  }
  if (const auto* p = std::get_if<KOVPressButton>(&decision)) {
    return "press:" + p->buttonId + ":" + p->label;
  }
  return "finish:" + std::to_string(std::get<KOVFinish>(decision).result.transactionResult);
}

class Decoder : public ::testing::TestWithParam<DecoderCase> {};

TEST_P(Decoder, DecidesOnceWhatAnAnswerMeans) {
  auto answer = std::make_shared<NSStringDictionary>();
  KOVXmlUtils::ParseXML(GetParam().answer, *answer);
  EXPECT_EQ(describe(KOVAnswerDecoder::decide(answer, GetParam().skipSignature, 30)), GetParam().decision);
}

constexpr const char* kSignature =
    "<Scr><DL1>Signature OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">NO</B2><Complete>1</Complete></Scr>";

INSTANTIATE_TEST_SUITE_P(
    Table, Decoder,
    ::testing::Values(
        DecoderCase{"Card", "<Scr><DL1>INSERT CARD</DL1><B1 en=\"1\">CANCEL</B1><Tmo>45</Tmo></Scr>", false,
                    "screen:1:INSERT CARD:CANCEL:-:45"},
        DecoderCase{"DisabledButtonIsHidden", "<Scr><DL1>Enter PIN</DL1><B1 en=\"0\">X</B1><B2 en=\"yes\">Y</B2></Scr>",
                    false, "screen:3:Enter PIN:-:-:30"},
        DecoderCase{"EnabledEmptyButton", "<Scr><DL1>processing</DL1><B2 en=\"2\"/></Scr>", false,
                    "screen:4:processing:-::30"},
        DecoderCase{"EmptyAnswerIsAnErrorScreen", "", false, "screen:9::-:-:30"},
        DecoderCase{"ZeroTimeoutMeansTheDefault", "<Scr><Tmo>0</Tmo></Scr>", false, "screen:9::-:-:30"},
        DecoderCase{"HugeTimeoutIsCut", "<Scr><Tmo>99999999999</Tmo></Scr>", false, "screen:9::-:-:3600"},
        DecoderCase{"CompleteInEitherForm", "<Scr><Result><Complete>1</Complete><AP>1</AP></Result></Scr>", false,
                    "finish:0"},
        DecoderCase{"OnlyTheExactTextOneCompletes", "<Scr><Complete>01</Complete></Scr>", false, "screen:9::-:-:30"},
        DecoderCase{"ResponseCodeGivesTheResult", "<Scr><Complete>1</Complete><Result><RC>P8</RC></Result></Scr>",
                    false, "finish:3"},
        DecoderCase{"SignatureAnsweredBeforeTheCompleteFlag", kSignature, true, "press:B1:YES"},
        DecoderCase{"WithoutTheFlagTheCompleteFlagWins", kSignature, false, "finish:1"},
        DecoderCase{"LastYesButtonWins",
                    "<Scr><DL1>SIGNATURE</DL1><B1 en=\"1\">yes</B1><B2 en=\"1\">Yes</B2></Scr>", true, "press:B2:Yes"},
        DecoderCase{"YesMustBeEnabledWithOne", "<Scr><DL1>SIGNATURE</DL1><B1 en=\"2\">YES</B1></Scr>", true,
                    "screen:5:SIGNATURE:YES:-:30"}),
    [](const auto& info) { return std::string(info.param.name); });

struct FailureCase {
  const char* name;
  int status;
  const char* body;
  std::optional<std::string> reason;
};

class HttpStatus : public ::testing::TestWithParam<FailureCase> {};

TEST_P(HttpStatus, ErrorPagesWithoutAScreenAreUrlLayerFailures) {
  NSStringDictionary answer;
  KOVXmlUtils::ParseXML(GetParam().body, answer);
  EXPECT_EQ(KOVAnswerDecoder::httpFailure(KOVURLResponse{GetParam().status, ""}, answer), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HttpStatus,
    ::testing::Values(FailureCase{"NotFoundEmpty", 404, "", "HTTP 404"},
                      FailureCase{"GatewayPage", 502, "<html><body>Bad Gateway</body></html>", "HTTP 502"},
                      FailureCase{"ErrorWithAScreen", 500, "<Scr><DL1>BUSY</DL1></Scr>", std::nullopt},
                      FailureCase{"ErrorWithOnlyACompleteFlag", 400, "<Scr><Complete>1</Complete></Scr>", std::nullopt},
                      FailureCase{"RootAttributeMarksTheService", 503, "<Scr action=\"x\"/>", std::nullopt},
                      FailureCase{"SuccessWithoutAScreen", 200, "", std::nullopt},
                      FailureCase{"RedirectIsAnAnswer", 302, "", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

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
