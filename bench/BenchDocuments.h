#pragma once
// What the benchmarks feed the engine: a request record with every field, a typical screen
// while the terminal waits (about 400 bytes) and a final answer with every result field and
// a long receipt.
#include <KOVModule/KOVDecimal.h>
#include <KOVModule/KOVTransactionDetails.h>

#include <memory>
#include <string>

namespace kovbench {

/// A purchase of 12.50 AUD with every optional field of the request set.
inline std::shared_ptr<KOVTransactionDetails> benchDetails(const std::string& txnRef = "bench-0001",
                                                           const std::string& station = "st-01") {
  auto details = std::make_shared<KOVTransactionDetails>();
  details->userName = "merchant";
  details->key = "s3cret";
  details->stationId = station;
  details->amount = KOVDecimal(1250, 2);
  details->currencyCode = "AUD";
  details->txnRef = txnRef;
  details->deviceId = "till-7";
  details->posName = "Bench POS";
  details->posVersion = "1.0";
  details->vendorId = "vendor";
  details->merchantRef = "mref-1";
  return details;
}

/// Characters per receipt line in both answers.
inline constexpr int kReceiptWidth = 24;

/// A receipt of `lines` lines, each padded to kReceiptWidth characters.
inline std::string receiptText(int lines) {
  std::string text;
  for (int i = 0; i < lines; ++i) {
    std::string line = "ITEM " + std::to_string(i + 1) + " ....... 1.25";
    line.resize(kReceiptWidth, ' ');
    text += line;
  }
  return text;
}

/// An unfinished answer: two lines, two buttons, a short receipt and the poll time-out.
inline const std::string& unfinishedAnswer() {
  static const std::string body =
      "<Scr><Complete>0</Complete><DL1>PRESENT / INSERT CARD</DL1><DL2>PURCHASE AUD 12.50</DL2>"
      "<B1 en=\"1\">CANCEL</B1><B2 en=\"0\">OK</B2><Rcpt>" +
      receiptText(9) + "</Rcpt><RcptW>24</RcptW><Tmo>30</Tmo></Scr>";
  return body;
}

/// A final answer with every Scr/Result field and a 40-line receipt.
inline const std::string& finalAnswer() {
  static const std::string body =
      "<Scr><DL1>ACCEPTED</DL1><DL2>THANK YOU</DL2><Result><Complete>1</Complete><AP>1</AP>"
      "<RC>00</RC><RT>APPROVED</RT><AC>123456</AC><CN>411111******1111</CN><CT>VISA</CT>"
      "<DS>20261207</DS><DS_TZ>+0000</DS_TZ><DT>20261206230000</DT><DT_TZ>+0000</DT_TZ>"
      "<PIX>A0000000031010</PIX><RID>A000000003</RID><RRN>000000123456</RRN><TR>QEL-000042</TR>"
      "<CN2>1111</CN2><DBID>BILL-0042</DBID><Rcpt>" +
      receiptText(40) + "</Rcpt><RcptW>24</RcptW></Result></Scr>";
  return body;
}

}  // namespace kovbench
