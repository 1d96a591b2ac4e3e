#include "audio/Biquad.h"

#include <cmath>
#include <cstdint>

namespace
{
constexpr double pi = 3.14159265358979323846;
}

// Coefficient design for the nine filter types. The precision of each step is deliberate (the
// tangent and exponential arguments are formed partly in double precision, everything else is
// single precision), so the coefficients are reproducible to the bit.
void ferrowick::Biquad::Update()
{
    const float v = std::pow(10.0f, std::fabs(gainDb) / 20.0f);
    const float k = std::tan(static_cast<float>(static_cast<double>(frequency) * pi
                                                * static_cast<double>(samplePeriod)));

    if (static_cast<uint32_t>(type) > 8u)
        return; // unknown type (negative ones included): keep the previous coefficients

    // NaN compares false, so a gain that is not a number takes the cut form.
    const bool boost = gainDb >= 0.0f;
    const float kk = k * k;
    const float r = 1.41421354f;

    switch (type)
    {
    case 0:
    case 1:
    {
        const float e = std::exp(static_cast<float>(static_cast<double>(frequency * samplePeriod)
                                                    * (-2.0 * pi)));
        if (type == 0)
        {
            b0 = 1.0f - e;
            b1 = 0.0f;
        }
        else
        {
            b0 = -e;
            b1 = e;
        }
        b2 = 0.0f;
        a1 = -e;
        a2 = 0.0f;
        return;
    }
    case 2:
    case 3:
    case 4:
    case 5:
    {
        const float n = 1.0f / (1.0f + k / q + kk);
        switch (type)
        {
        case 2:
            b0 = kk * n;
            b1 = 2.0f * kk * n;
            b2 = kk * n;
            break;
        case 3:
            b0 = n;
            b1 = -2.0f * n;
            b2 = n;
            break;
        case 4:
            b0 = (k / q) * n;
            b1 = 0.0f;
            b2 = -(k / q) * n;
            break;
        default:
            b0 = (1.0f + kk) * n;
            b1 = 2.0f * (kk - 1.0f) * n;
            b2 = (1.0f + kk) * n;
            break;
        }
        a1 = 2.0f * (kk - 1.0f) * n;
        a2 = (1.0f - k / q + kk) * n;
        return;
    }
    case 6:
        if (boost)
        {
            const float n = 1.0f / (1.0f + k / q + kk);
            b0 = (1.0f + v * k / q + kk) * n;
            b1 = 2.0f * (kk - 1.0f) * n;
            b2 = (1.0f - v * k / q + kk) * n;
            a1 = 2.0f * (kk - 1.0f) * n;
            a2 = (1.0f - k / q + kk) * n;
        }
        else
        {
            const float n = 1.0f / (1.0f + v * k / q + kk);
            b0 = (1.0f + k / q + kk) * n;
            b1 = 2.0f * (kk - 1.0f) * n;
            b2 = (1.0f - k / q + kk) * n;
            a1 = 2.0f * (kk - 1.0f) * n;
            a2 = (1.0f - v * k / q + kk) * n;
        }
        return;
    case 7:
    {
        const float s = std::sqrt(2.0f * v);
        if (boost)
        {
            const float n = 1.0f / (1.0f + r * k + kk);
            b0 = (1.0f + s * k + v * kk) * n;
            b1 = 2.0f * (v * kk - 1.0f) * n;
            b2 = (1.0f - s * k + v * kk) * n;
            a1 = 2.0f * (kk - 1.0f) * n;
            a2 = (1.0f - r * k + kk) * n;
        }
        else
        {
            const float n = 1.0f / (1.0f + s * k + v * kk);
            b0 = (1.0f + r * k + kk) * n;
            b1 = 2.0f * (kk - 1.0f) * n;
            b2 = (1.0f - r * k + kk) * n;
            a1 = 2.0f * (v * kk - 1.0f) * n;
            a2 = (1.0f - s * k + v * kk) * n;
        }
        return;
    }
    default: // 8
    {
        const float s = std::sqrt(2.0f * v);
        if (boost)
        {
            const float n = 1.0f / (1.0f + r * k + kk);
            b0 = (v + s * k + kk) * n;
            b1 = 2.0f * (kk - v) * n;
            b2 = (v - s * k + kk) * n;
            a1 = 2.0f * (kk - 1.0f) * n;
            a2 = (1.0f - r * k + kk) * n;
        }
        else
        {
            const float n = 1.0f / (v + s * k + kk);
            b0 = (1.0f + r * k + kk) * n;
            b1 = 2.0f * (kk - 1.0f) * n;
            b2 = (1.0f - r * k + kk) * n;
            a1 = 2.0f * (kk - v) * n;
            a2 = (v - s * k + kk) * n;
        }
        return;
    }
    }
}

ferrowick::Biquad ferrowick::bassPeakFilter(float sampleRate, float gainDb)
{
    constexpr int32_t peak = 6;
    Biquad filter;
    filter.sampleRate = sampleRate;
    filter.samplePeriod = 1.0f / sampleRate;
    filter.type = peak;
    filter.frequency = 120.0f;
    filter.gainDb = gainDb;
    filter.q = 0.5f;
    filter.Update();
    return filter;
}
