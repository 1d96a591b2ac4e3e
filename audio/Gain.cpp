#include "audio/Gain.h"

#include <cmath>

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
