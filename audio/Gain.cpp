#include "audio/Gain.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace ferrowick
{

float parameterToDb(float v)
{
    return static_cast<float>(static_cast<double>(v) * 60.0 - 40.0);
}

float dbToGain(float db)
{
    return std::pow(10.0f, db * 0.05f);
}

float parameterToGain(float v)
{
    return dbToGain(parameterToDb(v));
}

void applyGain(float* samples, int n, float g)
{
    for (int i = 0; i < n; ++i)
        samples[i] *= g;
}

bool allFinite(const float* samples, int n)
{
    // A float is a NaN or an infinity exactly when its exponent bits are all set. Integer
    // operations without an early exit, so that the loop is vectorised.
    constexpr uint32_t exponent = 0x7f800000u;
    uint32_t nonFinite = 0;
    for (int i = 0; i < n; ++i)
        nonFinite |= static_cast<uint32_t>((std::bit_cast<uint32_t>(samples[i]) & exponent) == exponent);
    return nonFinite == 0;
}

float rmsLevel(const float* samples, int n)
{
    if (n <= 0)
        return 0.0f;
    float sum = 0.0f;
    for (int i = 0; i < n; ++i)
        sum += samples[i] * samples[i];
    return std::sqrt(sum / static_cast<float>(n));
}

} // namespace ferrowick
