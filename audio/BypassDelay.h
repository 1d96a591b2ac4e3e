#pragma once

#include <array>

namespace ferrowick
{

// One channel of the dry signal that a bypassed block plays, late by the latency that the
// processed path reports, so that a host's delay compensation keeps the track in time whether the
// plug-in is bypassed or not. While the processed path plays, `record` keeps the newest input, so a
// switch to bypass goes on without a gap. As in the processed path, a chunk (at most 256 samples
// from the block's start) that holds a NaN or an infinity enters as silence.
// Fixed storage: no allocation, no lock.
class BypassDelay
{
public:
    static constexpr int maxDelay = 64;

    // A delay of 0..maxDelay samples; a change starts from silence.
    void setDelay(int samples);
    int delay() const { return delay_; }

    // Writes the block's samples delayed, in place, and keeps the newest input.
    void process(float* samples, int n);
    // Keeps the newest input only.
    void record(const float* samples, int n);
    // Silence from here on, as in a fresh instance.
    void clear();

private:
    void push(float sample) { line_[static_cast<unsigned>(position_)] = sample; position_ = (position_ + 1) % delay_; }

    std::array<float, maxDelay> line_{};
    int delay_ = 0;
    int position_ = 0;
};

} // namespace ferrowick
