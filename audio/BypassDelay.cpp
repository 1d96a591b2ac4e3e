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
    // Without an output only the newest `delay_` samples stay in the line: none at 48 kHz, where
    // a processed block keeps nothing.
    const int first = out == nullptr ? std::max(0, n - delay_) : 0;
    if (first >= n)
        return;
    // The finite check goes by chunks from the block start, as in the audio path.
    for (int start = first - first % ModelChain::maxChunk; start < n; start += ModelChain::maxChunk)
    {
        const int end = std::min(n, start + ModelChain::maxChunk);
        const bool finite = allFinite(in + start, end - start);
        for (int i = std::max(start, first); i < end; i++)
        {
            float sample = finite ? in[i] : 0.0f;
            if (delay_ > 0)
            {
                std::swap(sample, line_[static_cast<size_t>(position_)]);
                if (++position_ == delay_)
                    position_ = 0;
            }
            if (out != nullptr)
                out[i] = sample;
        }
    }
}

} // namespace ferrowick
