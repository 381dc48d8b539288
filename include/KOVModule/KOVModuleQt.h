#pragma once
/// Umbrella header of the KOVModule Qt layer: the core plus the Qt transport,
/// the status screen and the transaction facade.
#include <KOVModule/KOVModule.h>
