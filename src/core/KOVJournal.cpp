#include <KOVModule/KOVJournal.h>

KOVJournal::~KOVJournal() = default;
