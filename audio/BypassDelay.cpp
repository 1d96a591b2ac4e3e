#include "audio/BypassDelay.h"

#include <algorithm>

#include "audio/Gain.h"
#include "audio/ModelChain.h"

namespace ferrowick
{

void BypassDelay::reset(int delay)
{
    delay_ = std::clamp(delay, 0, maxDelay);
    line_.fill(0.0f);
    position_ = 0;
}

void BypassDelay::run(const float* in, float* out, int n)
{
    // Without a delay there is nothing to keep (at 48 kHz, every processed block).
    if (delay_ == 0 && out == nullptr)
        return;
    for (int start = 0; start < n; start += ModelChain::maxChunk)
    {
        const int end = std::min(n, start + ModelChain::maxChunk);
        const bool finite = allFinite(in + start, end - start);
        for (int i = start; i < end; i++)
        {
            float sample = finite ? in[i] : 0.0f;
            if (delay_ > 0)
            {
                std::swap(sample, line_[static_cast<size_t>(position_)]);
                position_ = (position_ + 1) % delay_;
            }
            if (out != nullptr)
                out[i] = sample;
        }
    }
}

} // namespace ferrowick
