#include "EngineFixture.h"

using namespace kovtest;

namespace {

struct StateCase {
  const char* line;
  bool completed;
  KOVState state;
};

class StateWords : public ::testing::TestWithParam<StateCase> {};

class Screen : public EngineTest {
 protected:
  std::string buttonBody(const std::string& name, const std::string& value) {
    return "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"s3cret\"><TxnRef>T-1</TxnRef><Station>ST01</Station>"
           "<TxnType>UI</TxnType><UiType>Bn</UiType><Name>" +
           name + "</Name><Val>" + value + "</Val></Scr>";
  }
  std::vector<std::shared_ptr<PostedRequest>> buttonPosts() const {
    std::vector<std::shared_ptr<PostedRequest>> out;
    for (const auto& p : net->posts) {
      if (p->body.find("<TxnType>UI</TxnType>") != std::string::npos) out.push_back(p);
    }
    return out;
  }
};

const char* kSignatureYesNo =
    "<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">NO</B2><Rcpt>ABCDEFGHIJ</Rcpt>"
    "<RcptW>4</RcptW></Scr>";

}  // namespace

TEST_P(StateWords, FirstLineGivesTheScreenState) {
  EXPECT_EQ(WqKOV::stateLineToState(GetParam().line, GetParam().completed), GetParam().state) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Table, StateWords,
    ::testing::Values(StateCase{"INSERT OR SWIPE CARD", false, KOVStateAwaitingCardSwipe},
                      StateCase{"SELECT ACCOUNT", false, KOVStateAwaitingAccountSelection},
                      StateCase{"ENTER PIN", false, KOVStateAwaitingPINEntry},
                      StateCase{"PROCESSING", false, KOVStateProcessing},
                      StateCase{"SIGNATURE OK?", false, KOVStateSignatureRequired},
                      StateCase{"REMOVE CARD", false, KOVStateError}, StateCase{"", false, KOVStateError},
                      StateCase{"PIN OK, PROCESSING", false, KOVStateAwaitingPINEntry},
                      StateCase{"spinning", false, KOVStateAwaitingPINEntry},
                      StateCase{"ACCEPTED", false, KOVStateError}, StateCase{"ACCEPTED", true, KOVStateAccepted},
                      StateCase{"Declined by bank", true, KOVStateDeclined},
                      StateCase{"CANCELLED", true, KOVStateCancelled},
                      StateCase{"DECLINED, CANCEL", true, KOVStateDeclined},
                      StateCase{"INSERT", true, KOVStateError},
                      // Non-ASCII lines take the full case mapping: capital dotted I lowers
                      // to i plus a combining dot, so the word is not found.
                      StateCase{"\xC3\x89" "CRAN ENTER PIN", false, KOVStateAwaitingPINEntry},
                      StateCase{"S\xC4\xB0GNATURE", false, KOVStateError}));

TEST(SegmentString, CutsByUtf16UnitsAndAlwaysEnds) {
  EXPECT_EQ(WqKOV::segmentString(std::nullopt, 4), std::nullopt);
  EXPECT_EQ(WqKOV::segmentString(std::string(), 4), std::nullopt);
  EXPECT_EQ(WqKOV::segmentString(std::string("ABCDEFGHIJ"), 4), "ABCD\r\nEFGH\r\nIJ\r\n");
  EXPECT_EQ(WqKOV::segmentString(std::string("ABCDEFGHIJ"), 5), "ABCDE\r\nFGHIJ\r\n");
  EXPECT_EQ(WqKOV::segmentString(std::string("ABCDEFGHIJ"), 20), "ABCDEFGHIJ\r\n");
  EXPECT_EQ(WqKOV::segmentString(std::string("AB\nCD"), 3), "AB\n\r\nCD\r\n");
  EXPECT_EQ(WqKOV::segmentString(std::string("ABC"), 0), "ABC\r\n");
  EXPECT_EQ(WqKOV::segmentString(std::string("ABC"), -3), "ABC\r\n");
  // Two-byte and three-byte characters are one unit each.
  EXPECT_EQ(WqKOV::segmentString(std::string("\xC3\xA9\xC3\xA9\xE2\x82\xAC"), 2),
            "\xC3\xA9\xC3\xA9\r\n\xE2\x82\xAC\r\n");
  // A character outside the basic plane is two units and is never cut in half.
  EXPECT_EQ(WqKOV::segmentString(std::string("a\xF0\x9F\x98\x80" "b"), 2), "a\xF0\x9F\x98\x80\r\nb\r\n");
  EXPECT_EQ(WqKOV::segmentString(std::string("\xF0\x9F\x98\x80\xF0\x9F\x98\x80"), 1),
            "\xF0\x9F\x98\x80\r\n\xF0\x9F\x98\x80\r\n");
}

TEST_F(Screen, UpdateCarriesLinesButtonsAndReceipt) {
  start();
  answer("<Scr><DL1>INSERT CARD</DL1><DL2>$12.50</DL2><B1 en=\"1\">CANCEL</B1><Rcpt>ABCDEFGHIJ</Rcpt>"
         "<RcptW>4</RcptW></Scr>");
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].state, KOVStateAwaitingCardSwipe);
  EXPECT_EQ(updates[0].firstLine, "INSERT CARD");
  EXPECT_EQ(updates[0].secondLine, "$12.50");
  EXPECT_EQ(updates[0].button1, "CANCEL");
  EXPECT_EQ(updates[0].button2, std::nullopt);
  EXPECT_EQ(updates[0].receipt, "ABCD\r\nEFGH\r\nIJ\r\n");
  EXPECT_EQ(engine.currentState(), KOVStateAwaitingCardSwipe);

  answer("<Scr><B1 en=\"yes\">A</B1><B2 en=\"2\"/><Rcpt>ABCDEFGHIJ</Rcpt></Scr>");
  ASSERT_EQ(updates.size(), 2u);
  EXPECT_EQ(updates[1].state, KOVStateError);
  EXPECT_EQ(updates[1].firstLine, "");
  EXPECT_EQ(updates[1].button1, std::nullopt) << "a non-numeric enable means disabled";
  EXPECT_EQ(updates[1].button2, "") << "enabled without a label is the empty text";
  EXPECT_EQ(updates[1].receipt, "ABCDEFGHIJ\r\n") << "width 20 when absent";

  answer("<Scr><Rcpt>ABC</Rcpt><RcptW>wide</RcptW></Scr>");
  EXPECT_EQ(updates[2].receipt, "ABC\r\n") << "a non-numeric width is 0: the whole text as one line";
  answer("<Scr><DL1>x</DL1></Scr>");
  EXPECT_EQ(updates[3].receipt, std::nullopt);
}

TEST_F(Screen, SignatureReceiptHandlerOnEachEntryIntoTheStep) {
  start();
  answer("<Scr><DL1>SIGNATURE OK?</DL1></Scr>");
  answer(kSignatureYesNo);
  ASSERT_EQ(signatureReceipts.size(), 1u);
  EXPECT_EQ(signatureReceipts[0], std::nullopt) << "the receipt of the first answer of the step";
  EXPECT_EQ(updates[1].receipt, "ABCD\r\nEFGH\r\nIJ\r\n");
  answer("<Scr><DL1>PROCESSING</DL1></Scr>");
  answer(kSignatureYesNo);
  ASSERT_EQ(signatureReceipts.size(), 2u);
  EXPECT_EQ(signatureReceipts[1], "ABCD\r\nEFGH\r\nIJ\r\n");
}

TEST_F(Screen, NoStatusHandlerMeansNoStateChangeAndNoSignatureCall) {
  engine.startTransaction(details, KOVTransactionTypePurchase, false, false, nullptr, nullptr, resultHandler(),
                          signatureHandler());
  answer(kSignatureYesNo);
  EXPECT_EQ(engine.currentState(), KOVStateInit);
  EXPECT_TRUE(signatureReceipts.empty());
  EXPECT_EQ(loopRequestsInFlight(), 1);
}

TEST_F(Screen, ButtonPressSendsItsRequestThenOnePollThatSupersedesTheLoop) {
  start();
  answer(kCardScreen);
  auto poll = last();
  engine.sendButtonRequest("B1", "CANCEL");
  auto press = last();
  EXPECT_EQ(press->body, buttonBody("B1", "CANCEL"));
  EXPECT_DOUBLE_EQ(press->timeout, 10.0);
  EXPECT_FALSE(poll->completed) << "the poll in flight runs on until the press completes";
  net->fail(press);  // whatever the outcome, one poll follows
  EXPECT_TRUE(poll->cancelled);
  EXPECT_EQ(engine.numberOfConsecutiveTimeouts(), 0) << "the press's failure is not a poll failure";
  EXPECT_EQ(loopRequestsInFlight(), 1);
  EXPECT_DOUBLE_EQ(last()->timeout, 45.0);
  EXPECT_NE(last()->body.find("<TxnType>Status</TxnType>"), std::string::npos);

  // Three quick presses still leave one loop.
  engine.sendButtonRequest("B2", "<&>");
  EXPECT_EQ(last()->body, buttonBody("B2", "&lt;&amp;&gt;"));
  engine.sendButtonRequest("B1", "A");
  engine.sendButtonRequest("B1", "B");
  for (const auto& p : buttonPosts()) {
    if (!p->completed) net->answer(p, "<Scr/>");
  }
  EXPECT_EQ(loopRequestsInFlight(), 1);
  answer(kCompleteApproved);
  EXPECT_EQ(results.size(), 1u);
  EXPECT_EQ(loopRequestsInFlight(), 0);
}

TEST_F(Screen, PressAfterTheEndSendsNothing) {
  start();
  engine.sendButtonRequest("B1", "CANCEL");
  auto press = last();
  net->answer(net->posts[0], kCompleteApproved);
  ASSERT_EQ(results.size(), 1u);
  const std::size_t posts = net->posts.size();
  engine.sendButtonRequest("B2", "OK");
  net->queue->drain();
  EXPECT_EQ(net->posts.size(), posts);
  EXPECT_TRUE(press->cancelled) << "the end releases the session and its outstanding press";
}

TEST_F(Screen, SignatureIsAnsweredWhenAskedWithTheLastYesButton) {
  details->skipSignatureVerification = true;
  start();
  answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">No</B1><B2 en=\"1\">Yes</B2><Tmo>12</Tmo></Scr>");
  EXPECT_TRUE(updates.empty()) << "the answered step is not shown";
  EXPECT_TRUE(signatureReceipts.empty());
  EXPECT_EQ(last()->body, buttonBody("B2", "Yes"));
  EXPECT_EQ(loopRequestsInFlight(), 0) << "the press's completion sends the next poll";
  EXPECT_EQ(engine.currentTimeoutInSeconds(), 30);
  net->answer(last(), "<Scr/>");
  EXPECT_EQ(loopRequestsInFlight(), 1);

  answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1><B2 en=\"1\">yes</B2></Scr>");
  EXPECT_EQ(last()->body, buttonBody("B2", "yes"));
  net->answer(last(), "<Scr/>");
  answer("<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\">YES</B1></Scr>");
  EXPECT_EQ(last()->body, buttonBody("B1", "YES"));
  net->answer(last(), "<Scr/>");

  // Left to the operator: enable not exactly 1, blanks round the label, another state.
  for (const char* shown : {"<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"2\">YES</B1></Scr>",
                            "<Scr><DL1>SIGNATURE OK?</DL1><B1 en=\"1\"> YES</B1></Scr>",
                            "<Scr><DL1>INSERT CARD</DL1><B1 en=\"1\">YES</B1></Scr>"}) {
    const std::size_t before = updates.size();
    answer(shown);
    EXPECT_EQ(updates.size(), before + 1) << shown;
    EXPECT_EQ(buttonPosts().size(), 3u) << shown;
  }
  EXPECT_EQ(updates[0].button1, "YES") << "enable 2 is shown as enabled";
}

TEST_F(Screen, AnsweredSignatureWinsOverACompleteFlagInTheSameAnswer) {
  details->skipSignatureVerification = true;
  start();
  answer("<Scr><Complete>1</Complete><DL1>SIGNATURE</DL1><B1 en=\"1\">YES</B1></Scr>");
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(buttonPosts().size(), 1u);
}

TEST_F(Screen, WithoutTheFlagTheOperatorAnswers) {
  start();
  answer(kSignatureYesNo);
  EXPECT_TRUE(buttonPosts().empty());
  ASSERT_EQ(updates.size(), 1u);
  EXPECT_EQ(updates[0].state, KOVStateSignatureRequired);
  EXPECT_EQ(signatureReceipts.size(), 1u);
}

struct RecoCase {
  const char* reco;
  KOVTransactionResult result;
};

class ResponseCodes : public ::testing::TestWithParam<RecoCase> {};

TEST_P(ResponseCodes, MapCaseInsensitively) {
  EXPECT_EQ(WqKOV::reCoToResultType(GetParam().reco), GetParam().result) << GetParam().reco;
}

INSTANTIATE_TEST_SUITE_P(Table, ResponseCodes,
                         ::testing::Values(RecoCase{"P7", KOVTransactionResultInvalidTransactionType},
                                           RecoCase{"p8", KOVTransactionResultUserKeyNotMatched},
                                           RecoCase{"P9", KOVTransactionResultStationPrefixError},
                                           RecoCase{"PB", KOVTransactionResultSessionInitError},
                                           RecoCase{"pC", KOVTransactionResultExistingRequestInProgress},
                                           RecoCase{"PD", KOVTransactionResultTransmitError},
                                           RecoCase{"pg", KOVTransactionResultSessionInitError},
                                           RecoCase{"PH", KOVTransactionResultUserIDNotMatched},
                                           RecoCase{"TQ", KOVTransactionResultTerminalNotConnected},
                                           RecoCase{"05", KOVTransactionResultFailed},
                                           RecoCase{"", KOVTransactionResultFailed},
                                           RecoCase{" p8", KOVTransactionResultFailed}));

TEST_F(Screen, EndFillsTheRecordFromTheFinalAnswer) {
  start();
  answer(
      "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><RT>APPROVED</RT><AC>123456</AC>"
      "<CN>4111********1111</CN><CT>VISA</CT><DS>20261207</DS><DS_TZ>+1100</DS_TZ><DT>20261206</DT>"
      "<DT_TZ>+1100</DT_TZ><PIX>px</PIX><RID>r1</RID><RRN>999</RRN><TR>Q1</TR><CN2>c2</CN2><DBID>b1</DBID>"
      "<Rcpt>ABCDEFGHIJ</Rcpt><RcptW>5</RcptW></Result></Scr>");
  ASSERT_EQ(results.size(), 1u);
  const auto& r = results[0];
  EXPECT_EQ(r.transactionResult, KOVTransactionResultSucceeded);
  EXPECT_EQ(r.authCode, "123456");
  EXPECT_EQ(r.maskedCardNumber, "4111********1111");
  EXPECT_EQ(r.cardName, "VISA");
  EXPECT_EQ(r.expectedSettlementDate, "20261207");
  EXPECT_EQ(r.expectedSettlementDateTimeZone, "+1100");
  EXPECT_EQ(r.transactionDate, "20261206");
  EXPECT_EQ(r.transactionDateTimeZone, "+1100");
  EXPECT_EQ(r.PIX, "px");
  EXPECT_EQ(r.RID, "r1");
  EXPECT_EQ(r.retrievalRefNumber, "999");
  EXPECT_EQ(r.qelTxnRef, "Q1");
  EXPECT_EQ(r.cardNumber2, "c2");
  EXPECT_EQ(r.qelBillingId, "b1");
  EXPECT_EQ(r.responseText, "APPROVED");
  EXPECT_EQ(r.reCo, "00");
  EXPECT_EQ(r.receipt, "ABCDE\r\nFGHIJ\r\n");
  EXPECT_EQ(r.receiptLineWidth, 5);
  ASSERT_NE(r.response, nullptr);
  EXPECT_EQ(r.response->at("Scr/Result/RRN"), "999");
}

TEST_F(Screen, EndWithoutKeysGivesEmptyTextsAndTheResponseCode) {
  start();
  answer("<Scr><Complete>1</Complete><Result><AP>0</AP><RC>TQ</RC></Result></Scr>");
  ASSERT_EQ(results.size(), 1u);
  const auto& r = results[0];
  EXPECT_EQ(r.transactionResult, KOVTransactionResultTerminalNotConnected);
  EXPECT_EQ(r.authCode, "") << "absent keys are the empty text, not null";
  EXPECT_EQ(r.responseText, "");
  EXPECT_EQ(r.receipt, std::nullopt);
  EXPECT_EQ(r.receiptLineWidth, 20);
  EXPECT_EQ(engine.currentState(), KOVStateInit);
}
