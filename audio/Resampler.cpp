#include "audio/Resampler.h"

#include <algorithm>
#include <cmath>

namespace ferrowick
{

// Symmetric low-pass (tap k equals tap 42 - k); the taps add up to about 1.00829.
const float filter_taps[filterTapCount] = {
    0.0018747783f,  0.0038605744f,   0.0013378822f,   -0.0037635928f, -0.0043364814f,
    0.0034620897f,  0.008369121f,    -0.00021748862f, -0.012495928f,  -0.0065313363f,
    0.014301798f,   0.017168157f,    -0.011204941f,   -0.030668348f,  -0.00035947826f,
    0.045248367f,   0.025666162f,    -0.058348253f,   -0.080681026f,  0.06747929f,
    0.30935758f,    0.42925486f,     0.30935758f,     0.06747929f,    -0.080681026f,
    -0.058348253f,  0.025666162f,    0.045248367f,    -0.00035947826f, -0.030668348f,
    -0.011204941f,  0.017168157f,    0.014301798f,    -0.0065313363f, -0.012495928f,
    -0.00021748862f, 0.008369121f,   0.0034620897f,   -0.0043364814f, -0.0037635928f,
    0.0013378822f,  0.0038605744f,   0.0018747783f,
};

namespace
{

// Slides the history by c and returns the index at which the chunk's first sample goes.
int shift(ResamplerHistory history, int c)
{
    std::copy(history.begin() + c, history.end(), history.begin());
    return resamplerHistorySize - c;
}

// FIR output for the newest sample at index p, summed from the newest tap to the oldest.
float firAt(const float* h, int p)
{
    float sum = 0.0f;
    for (int k = 0; k < filterTapCount; ++k)
        sum += filter_taps[k] * h[p - k];
    return sum;
}

} // namespace

bool isQuiet(ResamplerHistory history, float level)
{
    const auto within = [level](float x) { return std::abs(x) <= level; };
    return std::all_of(history.end() - resamplingWindow, history.end(), within);
}

int decimate(ResamplerHistory history, const float* in, int c, int phase, float* out)
{
    const int first = shift(history, c);
    float* h = history.data();
    int m = 0;
    for (int j = 0; j < c; ++j)
    {
        const int p = first + j;
        h[p] = in[j];
        if (((phase + j) & 1) == 0) // the dropped positions need no filter output
            out[m++] = firAt(h, p);
    }
    return m;
}

void interpolate(ResamplerHistory history, const float* y, int c, int phase, float* out)
{
    const int first = shift(history, c);
    float* h = history.data();
    int i = 0;
    for (int j = 0; j < c; ++j)
    {
        const int p = first + j;
        h[p] = ((phase + j) & 1) == 0 ? 2.0f * y[i++] : 0.0f;
        out[j] = firAt(h, p);
    }
}

} // namespace ferrowick
