#include "image/tone_curve.h"

#include <cmath>

const float gammaVal[10] = {3.5f, 2.35f, 1.2f, 1.0f, 0.8f, 0.6f, 0.4f, 0.3f, 0.2f, 0.1f};

int ToneCurveSelect(LONG nDensity, bool economy) {
  if (economy)
    return 2;
  if (nDensity < 0)
    return 0;
  if (nDensity > 9)
    return 9;
  return nDensity;
}

void BuildToneCurve(int select, BYTE gammatbl[256]) {
  const float gamma = gammaVal[select];
  for (int k = 0; k < 256; ++k) {
    float base = static_cast<float>(k) / 255.0f;
    float power = static_cast<float>(pow(static_cast<double>(base), static_cast<double>(gamma)));
    float scaled = power * 255.0f;
    double value = static_cast<double>(scaled) + 0.5;
    gammatbl[k] = value >= 255.0 ? 255 : static_cast<BYTE>(static_cast<int>(value));
  }
}
