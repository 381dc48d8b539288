#pragma once
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <vector>

#include "FakeSession.h"

namespace kovtest {

struct StatusUpdate {
  KOVState state;
  std::optional<std::string> receipt;
  std::string firstLine, secondLine;
  std::optional<std::string> button1, button2;
};

struct LogEntry {
  KOVTransactionLogEntryType type;
  std::string text;
};

inline const char* kCompleteApproved =
    "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><AC>A1</AC></Result></Scr>";
inline const char* kCardScreen = "<Scr><DL1>INSERT CARD</DL1><DL2>$12.50</DL2><B1 en=\"1\">CANCEL</B1><Tmo>45</Tmo></Scr>";

class EngineTest : public ::testing::Test {
 protected:
  WqKOV engine;
  std::shared_ptr<FakeNetwork> net = wireFakeNetwork(engine);
  std::shared_ptr<KOVTransactionDetails> details = sampleDetails();
  std::vector<KOVTransactionResultDetails> results;
  std::vector<StatusUpdate> updates;
  std::vector<std::optional<std::string>> signatureReceipts;
  std::vector<LogEntry> log;

  KOVTransactionResultHandler resultHandler() {
    return [this](KOVTransactionResultDetails r) { results.push_back(std::move(r)); };
  }
  StatusChangeHandler statusHandler() {
    return [this](KOVState s, const std::optional<std::string>& receipt, const std::string& l1, const std::string& l2,
                  const std::optional<std::string>& b1, const std::optional<std::string>& b2) {
      updates.push_back({s, receipt, l1, l2, b1, b2});
    };
  }
  KOVTransactionSignatureReceiptHandler signatureHandler() {
    return [this](const std::optional<std::string>& r) { signatureReceipts.push_back(r); };
  }
  KOVTransactionDebugLogHandler logHandler() {
    return [this](KOVTransactionLogEntryType t, const std::string& e) { log.push_back({t, e}); };
  }
  void start(bool debug = false, KOVTransactionType type = KOVTransactionTypePurchase, bool uat = false) {
    engine.startTransaction(details, type, uat, debug, logHandler(), statusHandler(), resultHandler(),
                            signatureHandler());
  }
  void recover(const KOVTransactionRecoveryDetails& r, bool debug = false) {
    engine.recoverTransaction(r, false, debug, logHandler(), statusHandler(), resultHandler(), signatureHandler());
  }
  std::shared_ptr<PostedRequest> last() { return net->last(); }
  void answer(const std::string& body) { net->answer(last(), body); }
  void fail(int32_t code = NSURLErrorTimedOut) { net->fail(last(), code); }
  int loopRequestsInFlight() const {
    int n = 0;
    for (const auto& p : net->outstanding()) {
      if (p->body.find("<TxnType>UI</TxnType>") == std::string::npos) ++n;
    }
    return n;
  }
};

}  // namespace kovtest
