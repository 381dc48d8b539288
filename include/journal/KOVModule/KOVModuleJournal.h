#pragma once
/// Umbrella header of KOVModule::Journal: the engine's crash-safe journal on SQLite.
#include <KOVModule/KOVModule.h>

#include <KOVModule/KOVResultJson.h>
#include <KOVModule/KOVSqliteJournal.h>
