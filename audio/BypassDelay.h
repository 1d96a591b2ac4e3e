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

    // Silence from here on, as in a fresh instance, with a delay of 0..maxDelay samples.
    void reset(int delay);
    // Writes the block's samples delayed, in place, and keeps the newest input.
    void process(float* samples, int n) { run(samples, samples, n); }
    // Keeps the newest input only.
    void record(const float* samples, int n) { run(samples, nullptr, n); }

private:
    // Feeds n input samples through the line; writes what comes out to `out` unless it is null.
    void run(const float* in, float* out, int n);

    std::array<float, maxDelay> line_{};
    int delay_ = 0;
    int position_ = 0;
};

} // namespace ferrowick
