#pragma once

#include "audio/Biquad.h"
#include "audio/ToneFilters.h"

namespace ferrowick
{

// In-place runs of the tone filters and the DC blocker over n samples at 48 kHz, single
// precision, state carried in the records.

// y = a*x + b*lastOutput. An exact zero input while |lastOutput| < 1e-7 outputs 0, which then
// becomes lastOutput: a tail of either sign decays to that level first, without a step.
void runLowpass(OnePoleLowpass& filter, float* samples, int n);

// Direct form I: y = b0*x + b1*x1 + b2*x2 - a1*y1 - a2*y2, summed left to right.
void runBiquad(Biquad& filter, float* samples, int n);

// mean = c1*mean + c0*x, output x - mean. An exact zero input while |mean| < 1e-6 outputs 0 and
// leaves mean unchanged: a mean of either sign decays to that level first, without a step.
void runDcBlocker(DcBlocker& blocker, float* samples, int n);

} // namespace ferrowick
