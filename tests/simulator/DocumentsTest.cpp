// The answers' exact texts and the log masking.
#include <gtest/gtest.h>

#include "SimDocuments.h"
#include "SimLog.h"

using namespace kovsim;

TEST(SimDocuments, ScreenAndResultAnswersHaveTheirExactText) {
  SimScreen screen;
  screen.line1 = "SIGNATURE OK?";
  screen.line2 = "A & B";
  screen.button1 = {"YES", true};
  screen.button2 = {"NO", false};
  screen.receipt = "R1";
  screen.receiptWidth = 24;
  EXPECT_EQ(screenDocument(screen, "7"),
            "<Scr><Complete>0</Complete><DL1>SIGNATURE OK?</DL1><DL2>A &amp; B</DL2><B1 en=\"1\">YES</B1>"
            "<B2 en=\"0\">NO</B2><Rcpt>R1</Rcpt><RcptW>24</RcptW><Tmo>7</Tmo></Scr>");

  const SimResult refused = serviceError("p8", "INVALID USER OR KEY");
  EXPECT_EQ(resultDocument(refused, SimCompleteForm::Root),
            "<Scr><Complete>1</Complete><DL1>ERROR</DL1><DL2>INVALID USER OR KEY</DL2><Result><AP>0</AP>"
            "<RC>p8</RC><RT>INVALID USER OR KEY</RT></Result></Scr>");
  EXPECT_EQ(resultDocument(refused, SimCompleteForm::Result),
            "<Scr><DL1>ERROR</DL1><DL2>INVALID USER OR KEY</DL2><Result><Complete>1</Complete><AP>0</AP>"
            "<RC>p8</RC><RT>INVALID USER OR KEY</RT></Result></Scr>");
}

TEST(SimLog, KeyAttributesAndTheSecretAreMasked) {
  EXPECT_EQ(maskKey("<Scr action=\"doScrKOV\" user=\"merchant\" key=\"wrong-key\"><TxnRef>T</TxnRef></Scr>", "s3cret"),
            "<Scr action=\"doScrKOV\" user=\"merchant\" key=\"......\"><TxnRef>T</TxnRef></Scr>");
  EXPECT_EQ(maskKey("<Scr key='a b' monkey=\"x\">", ""), "<Scr key=\"......\" monkey=\"x\">");
  EXPECT_EQ(maskKey("<Scr key=\"cut off", ""), "<Scr key=\"......\"");
  EXPECT_EQ(maskKey("said s3cret twice: s3cret", "s3cret"), "said ...... twice: ......");
  EXPECT_EQ(oneLine("a\r\nb\tc"), "a  b c");
}
