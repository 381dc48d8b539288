#include <KOVModule/KOVQuadraticEaseOut.h>

float QuadraticEaseOut(float t) {
  return -((t - 2.0f) * t);
}
