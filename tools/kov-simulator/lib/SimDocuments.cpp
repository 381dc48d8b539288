#include "SimDocuments.h"

#include <algorithm>
#include <array>

#include "SimXmlWriter.h"

namespace kovsim {
namespace {

void writeButton(SimXmlWriter& xml, const char* tag, const SimButton& button) {
  xml.open(tag).attribute("en", button.enabled ? "1" : "0").text(button.label).close();
}

}  // namespace

SimResult serviceError(const std::string& responseCode, const std::string& responseText) {
  SimResult result;
  result.line1 = "ERROR";
  result.line2 = responseText;
  result.fields = {{"AP", "0"}, {"RC", responseCode}, {"RT", responseText}};
  return result;
}

std::string screenDocument(const SimScreen& screen, const std::string& tmo) {
  SimXmlWriter xml;
  xml.open("Scr").element("Complete", "0").element("DL1", screen.line1).element("DL2", screen.line2);
  writeButton(xml, "B1", screen.button1);
  writeButton(xml, "B2", screen.button2);
  if (screen.receipt) {
    xml.element("Rcpt", *screen.receipt).element("RcptW", std::to_string(screen.receiptWidth));
  }
  xml.element("Tmo", tmo);
  return xml.finish();
}

std::string resultDocument(const SimResult& result, SimCompleteForm form) {
  SimXmlWriter xml;
  xml.open("Scr");
  if (form == SimCompleteForm::Root) {
    xml.element("Complete", "1");
  }
  xml.element("DL1", result.line1).element("DL2", result.line2).open("Result");
  if (form == SimCompleteForm::Result) {
    xml.element("Complete", "1");
  }
  for (const auto& [key, value] : result.fields) {
    xml.element(key, value);
  }
  return xml.finish();
}

std::string brokenBody(SimFault fault) {
  // What a client must never take: an end with a declined result.
  const std::string declinedEnd = "<Complete>1</Complete><Result><AP>0</AP><RC>51</RC><RT>DECLINED</RT></Result></Scr>";
  switch (fault) {
    case SimFault::Garbage: return "<<<Scr not xml & never closed";
    case SimFault::Truncated: return "<Scr><Complete>0</Complete><DL1>TRUNCATED</DL1><DL2>ANSWER CU";
    case SimFault::BadUtf8: return "<Scr><DL1>BAD\xff\xfe UTF-8</DL1><DL2>AFTER THE FAULT</DL2>" + declinedEnd;
    case SimFault::Deep: {
      constexpr int kDepth = 100000;
      std::string body = "<Scr><DL1>DEEP</DL1>";
      body.reserve(body.size() + kDepth * 7 + declinedEnd.size() + 32);
      for (int i = 0; i < kDepth; ++i) {
        body += "<a>";
      }
      for (int i = 0; i < kDepth; ++i) {
        body += "</a>";
      }
      return body + "<DL2>AFTER THE FAULT</DL2>" + declinedEnd;
    }
    case SimFault::Doctype: {
      // Nine levels of ten make 10^9 "lol"s when expanded; the external entity names a
      // file every such machine has.
      std::string body = "<?xml version=\"1.0\"?>\n<!DOCTYPE Scr [\n<!ENTITY lol0 \"lol\">\n";
      for (int level = 1; level <= 9; ++level) {
        body += "<!ENTITY lol" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) {
          body += "&lol" + std::to_string(level - 1) + ";";
        }
        body += "\">\n";
      }
      return body + "<!ENTITY file SYSTEM \"file:///etc/passwd\">\n]>\n<Scr><DL1>&lol9;</DL1><DL2>&file;</DL2>" +
             declinedEnd;
    }
    case SimFault::AtCap: {
      const std::string head = "<Scr><Complete>0</Complete><DL1>";
      const std::string tail = "</DL1><DL2>AT THE CAP</DL2></Scr>";
      return head + std::string(kClientCapBytes - head.size() - tail.size(), 'X') + tail;
    }
    default: return "";
  }
}

std::string oddTimeOut(std::uint64_t screenVersion) {
  static const std::array<const char*, 4> kOdd{"0", "-5", "99999999999", "soon"};
  return kOdd[screenVersion % kOdd.size()];
}

std::string_view oversizePiece(std::size_t offset) {
  static const std::string head = "<Scr><Complete>0</Complete><DL1>";
  static const std::string tail = "</DL1><DL2>OVERSIZE</DL2></Scr>";
  static const std::string filler(64 * 1024, 'X');
  constexpr std::size_t kFillerBytes = 2 * 1024 * 1024;
  if (offset < head.size()) {
    return std::string_view(head).substr(offset);
  }
  offset -= head.size();
  if (offset < kFillerBytes) {
    return std::string_view(filler).substr(0, std::min(filler.size(), kFillerBytes - offset));
  }
  offset -= kFillerBytes;
  return offset < tail.size() ? std::string_view(tail).substr(offset) : std::string_view();
}

std::string gatewayPage() {
  return "<html><head><title>502 Bad Gateway</title></head><body><h1>Bad Gateway</h1>"
         "<p>The upstream server did not answer.</p></body></html>";
}

std::string maintenancePage() {
  return "<html><head><title>Down for maintenance</title></head><body><h1>We'll be back soon</h1>"
         "<p>The payment service is down for maintenance.</p></body></html>";
}

}  // namespace kovsim
