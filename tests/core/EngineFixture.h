#pragma once
// An engine on the scripted network whose every outward act is written to one transcript:
//   "> Status 45"              a request posted (its type and time-out; " uat" on the test endpoint,
//                              " @T" the fake clock's time when times are stamped)
//   "> UI B1=CANCEL 10"        a button request
//   "x Status"                 a request the engine cancelled
//   "screen 1 L1|L2 [B1|-]"    a status callback (state, lines, buttons; "-" for none, "rcpt=" receipt
//                              with "/" for each line end)
//   "sig -"                    the signature receipt handler ("-" for no receipt)
//   "result 10"                the result handler (its code, then its response text if any)
//   "log E text", "log I text" debug entries; "log >" and "log <" for documents sent and received
//   "journal sent T-1 Purchase 12.50"  an entry saved: its stage, reference, type and amount
//                              ("-" for none), from "answered" on the result's code, " unsent"
//                              when its request provably never left, " acknowledged" once the
//                              host acknowledged it; "journal forget T-1" an entry removed
#include <gtest/gtest.h>

#include <KOVModule/KOVModule.h>

#include <map>
#include <sstream>
#include <vector>

#include "FakeSession.h"

namespace kovtest {

inline const char* kCompleteApproved =
    "<Scr><Complete>1</Complete><Result><AP>1</AP><RC>00</RC><AC>A1</AC></Result></Scr>";
inline const char* kCardScreen =
    "<Scr><DL1>INSERT CARD</DL1><DL2>$12.50</DL2><B1 en=\"1\">CANCEL</B1><Tmo>45</Tmo></Scr>";

inline std::string tagText(const std::string& body, const std::string& tag) {
  const auto open = body.find("<" + tag + ">");
  if (open == std::string::npos) return {};
  const auto from = open + tag.size() + 2;
  return body.substr(from, body.find("</" + tag + ">", from) - from);
}

inline std::string lineEnds(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.replace(at, 2, "/");
  return text;
}

/// A journal in memory that writes each save to the transcript, and fails its saves (and its
/// reads too with readsFail) with its failure text while one is set.
class FakeJournal : public KOVJournal {
 public:
  explicit FakeJournal(std::vector<std::string>& transcript) : _transcript(transcript) {}
  bool save(const KOVJournalEntry& entry, std::string* why) override {
    if (failing(why)) return false;
    std::string line = std::string("journal ") + kov::journalStageName(entry.stage) + " " + entry.txnRef + " " +
                       entry.txnType.value_or("-") + " " + entry.amount.value_or("-");
    if (entry.result) line += " " + std::to_string(entry.result->transactionResult);
    if (!entry.requestSent) line += " unsent";
    if (entry.acknowledgedAt) line += " acknowledged";
    _transcript.push_back(line);
    rows[entry.txnRef] = entry;
    return true;
  }
  bool find(const std::string& txnRef, std::optional<KOVJournalEntry>& found, std::string* why) override {
    if (readsFail && failing(why)) return false;
    const auto row = rows.find(txnRef);
    found = row == rows.end() ? std::nullopt : std::optional(row->second);
    return true;
  }
  bool unfinished(std::vector<KOVJournalEntry>& entries, std::string* why) override {
    if (readsFail && failing(why)) return false;
    for (const auto& [ref, entry] : rows) {
      if (entry.stage != KOVJournalStageDelivered) entries.push_back(entry);
    }
    return true;
  }
  bool forget(const std::string& txnRef, std::string* why) override {
    if (failing(why)) return false;
    _transcript.push_back("journal forget " + txnRef);
    rows.erase(txnRef);
    return true;
  }
  std::map<std::string, KOVJournalEntry> rows;
  std::optional<std::string> failure;
  bool readsFail = false;

 private:
  bool failing(std::string* why) const {
    if (failure && why) *why = *failure;
    return failure.has_value();
  }
  std::vector<std::string>& _transcript;
};

class EngineTest : public ::testing::Test {
 protected:
  WqKOV engine;
  std::shared_ptr<FakeNetwork> net = wireFakeNetwork(engine);
  std::shared_ptr<KOVTransactionDetails> details = sampleDetails();
  std::vector<KOVTransactionResultDetails> results;
  std::vector<std::string> transcript;
  bool stampTimes = false;  // posts carry the fake clock's time in ms: "> Status 30 @2000"
  bool showWho = false;     // posts carry their user and station: "> Status 30 by merchant at ST01"
  std::shared_ptr<FakeJournal> journal = std::make_shared<FakeJournal>(transcript);

  EngineTest() {
    net->onPost = [this](const PostedRequest& p) {
      std::ostringstream line;
      line << "> " << tagText(p.body, "TxnType");
      if (p.isButton()) line << " " << tagText(p.body, "Name") << "=" << tagText(p.body, "Val");
      line << " " << p.timeout << (p.url == kWqKOVUATUrl ? " uat" : "");
      if (stampTimes) line << " @" << net->queue->clock.time_since_epoch() / std::chrono::milliseconds(1);
      if (showWho) {
        const auto user = p.body.find("user=\"") + 6;
        line << " by " << p.body.substr(user, p.body.find('"', user) - user) << " at " << tagText(p.body, "Station");
      }
      transcript.push_back(line.str());
    };
    net->onCancel = [this](const PostedRequest& p) { transcript.push_back("x " + tagText(p.body, "TxnType")); };
  }
  // The engine outlives the transcript and cancels what is still outstanding as it goes.
  ~EngineTest() override { net->onPost = net->onCancel = nullptr; }

  /// Writes "result CODE [RESPONSE TEXT]", and with withOutcome " | REASON | sent" (or unsent).
  KOVTransactionResultHandler resultHandler(bool withOutcome = false) {
    return [this, withOutcome](KOVTransactionResultDetails r) {
      std::string line = "result " + std::to_string(r.transactionResult) +
                         (r.responseText.value_or("").empty() ? "" : " " + *r.responseText);
      if (withOutcome) {
        const KOVTransactionOutcome outcome = engine.lastOutcome();
        line += " | " + outcome.reason.value_or("-") + (outcome.requestSent ? " | sent" : " | unsent");
      }
      transcript.push_back(line);
      results.push_back(std::move(r));
    };
  }
  StatusChangeHandler statusHandler() {
    return [this](KOVState s, const std::optional<std::string>& receipt, const std::string& l1, const std::string& l2,
                  const std::optional<std::string>& b1, const std::optional<std::string>& b2) {
      transcript.push_back("screen " + std::to_string(s) + " " + l1 + "|" + l2 + " [" + b1.value_or("-") + "|" +
                           b2.value_or("-") + "]" + (receipt ? " rcpt=" + lineEnds(*receipt) : ""));
    };
  }
  KOVTransactionSignatureReceiptHandler signatureHandler() {
    return [this](const std::optional<std::string>& r) { transcript.push_back("sig " + lineEnds(r.value_or("-"))); };
  }
  KOVTransactionDebugLogHandler logHandler() {
    return [this](KOVTransactionLogEntryType t, const std::string& e) {
      if (t == KOVTransactionLogEntryRequestContent || t == KOVTransactionLogEntryResponseContent) {
        transcript.push_back(t == KOVTransactionLogEntryRequestContent ? "log >" : "log <");
      } else {
        transcript.push_back(std::string(t == KOVTransactionLogEntryError ? "log E " : "log I ") + e);
      }
    };
  }
  void start(bool debug = false, KOVTransactionType type = KOVTransactionTypePurchase, bool uat = false) {
    engine.startTransaction(details, type, uat, debug, logHandler(), statusHandler(), resultHandler(),
                            signatureHandler());
  }
  std::shared_ptr<PostedRequest> oldest(bool button) const {
    for (const auto& p : net->outstanding()) {
      if (p->isButton() == button) return p;
    }
    return nullptr;
  }
  std::shared_ptr<PostedRequest> last() { return net->last(); }
  void answer(const std::string& body) { net->answer(last(), body); }
};

}  // namespace kovtest
