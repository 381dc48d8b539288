#pragma once
#include <KOVModule/KOVExport.h>

/// The quadratic ease-out t * (2 - t), worked in single precision as -((t - 2) * t):
/// 0 gives 0, 0.5 gives 0.75, 1 gives 1, and it falls again above 1.
KOV_QT_EXPORT float QuadraticEaseOut(float t);
