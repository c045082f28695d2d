// The screen's tone curves: one exponent per print density, economy mode on a
// fixed curve.
#pragma once

#include "runtime/win_types.h"

// Tone-curve exponents, indexed by density (economy mode uses index 2).
extern const float gammaVal[10];

// The curve for a page: 2 in economy mode, else the density index, a value
// outside 0..9 taking the nearest valid curve.
int ToneCurveSelect(LONG nDensity, bool economy);

// gammatbl[k] = trunc(255 * (k / 255)^gamma + 0.5), in the precision steps the
// printer's tone reproduction was measured with: k / 255 in single precision,
// the power in double, rounded to single, times 255 in single, + 0.5 in double.
void BuildToneCurve(int select, BYTE gammatbl[256]);
