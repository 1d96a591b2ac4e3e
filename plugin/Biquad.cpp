#include "plugin/Biquad.h"

// TEMPORARY stand-in so that the plug-in links until the filter implementation lands: it leaves
// the coefficients as they are. Replace this file with the real one.
void Biquad::Update() {}
