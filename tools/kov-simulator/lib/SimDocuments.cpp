#include "SimDocuments.h"

#include <KOVModule/WqXMLDocument.h>
#include <KOVModule/WqXMLNode.h>

namespace kovsim {
namespace {

std::shared_ptr<WqXMLNode> buttonNode(const std::string& tag, const SimButton& button) {
  auto node = WqXMLNode::nodeWithTag(tag, button.label);
  node->addAttribute("en", button.enabled ? "1" : "0");
  return node;
}

}  // namespace

SimResult serviceError(const std::string& responseCode, const std::string& responseText) {
  SimResult result;
  result.line1 = "ERROR";
  result.line2 = responseText;
  result.fields = {{"AP", "0"}, {"RC", responseCode}, {"RT", responseText}};
  return result;
}

std::string screenDocument(const SimScreen& screen, int tmoSeconds) {
  auto document = WqXMLDocument::documentWithRootNode("Scr");
  auto root = document->getRootNode();
  root->addChildNode("Complete", std::string("0"));
  root->addChildNode("DL1", screen.line1);
  root->addChildNode("DL2", screen.line2);
  root->addChildNode(buttonNode("B1", screen.button1));
  root->addChildNode(buttonNode("B2", screen.button2));
  if (screen.receipt) {
    root->addChildNode("Rcpt", screen.receipt);
    root->addChildNode("RcptW", std::to_string(screen.receiptWidth));
  }
  root->addChildNode("Tmo", std::to_string(tmoSeconds));
  return document->toString();
}

std::string resultDocument(const SimResult& result, SimCompleteForm form) {
  auto document = WqXMLDocument::documentWithRootNode("Scr");
  auto root = document->getRootNode();
  if (form == SimCompleteForm::Root) {
    root->addChildNode("Complete", std::string("1"));
  }
  root->addChildNode("DL1", result.line1);
  root->addChildNode("DL2", result.line2);
  auto resultNode = WqXMLNode::nodeWithTag("Result");
  if (form == SimCompleteForm::Result) {
    resultNode->addChildNode("Complete", std::string("1"));
  }
  for (const auto& [key, value] : result.fields) {
    resultNode->addChildNode(key, value);
  }
  root->addChildNode(resultNode);
  return document->toString();
}

std::string garbageBody() { return "<<<Scr not xml & never closed"; }

}  // namespace kovsim
