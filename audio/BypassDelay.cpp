#include "audio/BypassDelay.h"

#include <algorithm>

#include "audio/Gain.h"
#include "audio/ModelChain.h"

namespace ferrowick
{

void BypassDelay::setDelay(int samples)
{
    samples = std::clamp(samples, 0, maxDelay);
    if (samples == delay_)
        return;
    delay_ = samples;
    clear();
}

void BypassDelay::clear()
{
    line_.fill(0.0f);
    position_ = 0;
}

void BypassDelay::process(float* samples, int n)
{
    for (int start = 0; start < n; start += ModelChain::maxChunk)
    {
        const int c = std::min(ModelChain::maxChunk, n - start);
        float* chunk = samples + start;
        if (!allFinite(chunk, c))
            std::fill(chunk, chunk + c, 0.0f);
        if (delay_ == 0)
            continue;
        for (int i = 0; i < c; i++)
        {
            const float delayed = line_[static_cast<unsigned>(position_)];
            push(chunk[i]);
            chunk[i] = delayed;
        }
    }
}

void BypassDelay::record(const float* samples, int n)
{
    if (delay_ == 0)
        return;
    // Only the newest `delay_` samples stay in the line.
    const int first = std::max(0, n - delay_);
    for (int start = 0; start < n; start += ModelChain::maxChunk)
    {
        const int c = std::min(ModelChain::maxChunk, n - start);
        if (start + c <= first)
            continue;
        const bool finite = allFinite(samples + start, c);
        for (int i = std::max(start, first); i < start + c; i++)
            push(finite ? samples[i] : 0.0f);
    }
}

} // namespace ferrowick
