#include "audio/FilterRuns.h"

#include <cmath>

namespace ferrowick
{

void runLowpass(OnePoleLowpass& filter, float* samples, int n)
{
    float last = filter.lastOutput;
    for (int i = 0; i < n; ++i)
    {
        const float x = samples[i];
        last = (x == 0.0f && std::abs(last) < 1e-7f) ? 0.0f : filter.a * x + filter.b * last;
        samples[i] = last;
    }
    filter.lastOutput = last;
}

void runBiquad(Biquad& f, float* samples, int n)
{
    for (int i = 0; i < n; ++i)
    {
        const float x = samples[i];
        const float y = f.b0 * x + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
        f.x2 = f.x1;
        f.x1 = x;
        f.y2 = f.y1;
        f.y1 = y;
        samples[i] = y;
    }
}

void runDcBlocker(DcBlocker& blocker, float* samples, int n)
{
    float mean = blocker.mean;
    for (int i = 0; i < n; ++i)
    {
        const float x = samples[i];
        if (x == 0.0f && std::abs(mean) < 1e-6f)
        {
            samples[i] = 0.0f;
            continue;
        }
        mean = blocker.c1 * mean + blocker.c0 * x;
        samples[i] = x - mean;
    }
    blocker.mean = mean;
}

} // namespace ferrowick
