#pragma once

namespace ferrowick
{

// Gain helpers of the processor's block stages. Single precision except where noted.

// dB of a normalised gain parameter value v (0..1): v*60 - 40 in double precision, as a float.
float parameterToDb(float v);

// Linear factor of a gain in dB: 10^(dB*0.05).
float dbToGain(float db);

// parameterToDb then dbToGain.
float parameterToGain(float v);

// Multiplies n samples by g in place.
void applyGain(float* samples, int n, float g);

// True when none of the n samples is a NaN or an infinity.
bool allFinite(const float* samples, int n);

// sqrt(sum of squares in index order / n); 0 for n <= 0, so the meter always gets a finite,
// non-negative level for an empty block.
float rmsLevel(const float* samples, int n);

} // namespace ferrowick
