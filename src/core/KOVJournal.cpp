#include <KOVModule/KOVJournal.h>

KOVJournal::~KOVJournal() = default;

std::vector<std::string> KOVJournal::takeNotices() { return {}; }

const char* kov::journalStageName(KOVJournalStage stage) {
  switch (stage) {
    case KOVJournalStageSent: return "sent";
    case KOVJournalStageAnswered: return "answered";
    case KOVJournalStageDelivered: return "delivered";
  }
  return "sent";
}
