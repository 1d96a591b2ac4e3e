#pragma once

#include <span>

namespace ferrowick
{

// 2:1 decimation in front of the model and 1:2 interpolation behind it at a host rate of
// 96 kHz, both with the same 43-tap FIR low-pass.
//
// The histories are the processor's arrays of 1067 floats, newest sample at index 1066. Every
// chunk slides them by its length c (at most 256), so the filter sees one continuous stream
// whatever the chunk lengths.
//
// Phase: the decimator keeps the filtered samples at even absolute positions of the host-rate
// stream, and the interpolator puts the model's samples back at exactly those positions (zeros
// in between). `phase` is the parity of the chunk's first sample (0 = it is kept). A chunk
// therefore hands the model ceil(c/2) samples when it starts on phase 0 and floor(c/2) when it
// starts on phase 1, and the caller advances the phase by c. With even chunks the phase stays
// 0: every second sample from the chunk's first one, as the plain algorithm has it. With odd
// chunks the stream comes out exactly as if it had been processed in one piece.

inline constexpr int filterTapCount = 43;
inline constexpr int resamplerHistorySize = 1067;
inline constexpr int maxResamplerChunk = 256;

extern const float filter_taps[filterTapCount];

// The delay, in host-rate samples, that decimation and interpolation add together: the filter is
// symmetric, so each pass delays by half its length.
inline constexpr int resamplingDelay = filterTapCount - 1;

using ResamplerHistory = std::span<float, resamplerHistorySize>;

// The past samples that a filter output reads, in either history.
inline constexpr int resamplingWindow = filterTapCount - 1;

// True when no sample that the next filter output reads from the history is above `level` in
// magnitude (0: all exact zeros).
bool isQuiet(ResamplerHistory history, float level);

// Number of samples that a chunk of c host-rate samples starting on `phase` gives the model.
constexpr int decimatedCount(int c, int phase) { return (c + 1 - (phase & 1)) / 2; }

// Pushes in[0..c) into the history and writes the kept filtered samples to out; returns their
// count (decimatedCount(c, phase)). 1 <= c <= 256.
int decimate(ResamplerHistory history, const float* in, int c, int phase, float* out);

// Zero-stuffs y (decimatedCount(c, phase) samples) with a gain of 2 at the kept positions,
// pushes the c stuffed samples into the history and writes the c filtered samples to out.
// 1 <= c <= 256.
void interpolate(ResamplerHistory history, const float* y, int c, int phase, float* out);

} // namespace ferrowick
