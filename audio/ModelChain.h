#pragma once

#include <array>

#include "core/dsp.h"
#include "audio/Biquad.h"
#include "audio/Resampler.h"
#include "audio/ToneFilters.h"

namespace ferrowick
{

// Tone filters switched on by the current model's metadata.
struct ToneSwitches
{
    bool lowpass = false;
    bool bassBoost = false;
    bool bassCut = false;
};

// The processor's state that carries over from block to block (its own members, by reference).
struct ChainState
{
    OnePoleLowpass& lowpassFilter;
    Biquad& bassBoostFilter;
    Biquad& bassCutFilter;
    DcBlocker& dcBlocker;
    ResamplerHistory decimatorHistory;
    ResamplerHistory interpolatorHistory;
};

// The per-chunk part of the audio path, after the input stages: model input (copy at 48 kHz,
// decimation at 96 kHz), one model call, loudness gain, low-pass, bass boost, bass cut, DC
// blocker, model output (copy or interpolation) and the output gain, in place.
//
// No NaN or infinity ever leaves it: a chunk whose input or output holds one is silent, and every
// signal state that it may have reached is cleared (reset()), so that the path recovers by itself
// from the next chunk on.
//
// Owns the fixed work buffers and the 2:1 phase, so the processor keeps one ModelChain as a
// member next to the state it passes in. Allocates nothing and takes no lock (the model's own
// process aside).
class ModelChain
{
public:
    static constexpr int maxChunk = 256;

    // Runs one chunk of c samples (1..256) at `sampleRate` (48000 or 96000).
    // Returns false, with the chunk set to zeros, when the model threw (the exception does not
    // escape) or the rate is unsupported. After a model failure the filters are left as they
    // were, while the resampler histories and phase move on by c as after any chunk, so later
    // chunks stay aligned. At 96 kHz a one-sample chunk on the dropped phase gives the model no
    // sample, and the model is then not called.
    bool processChunk(float* chunk, int c, int sampleRate, kep::DSP& model, float loudnessGain,
                      ToneSwitches tone, ChainState& state, float outputGain = 1.0f);

    // Runs n samples in chunks of at most 256 (a block of 1000 gives 256, 256, 256, 232).
    // Returns false when any chunk failed; then all n samples are zeros (the whole block is
    // silent), the model is not called for the rest of the block, and the caller decides what
    // to do with the model.
    bool processBlock(float* samples, int n, int sampleRate, kep::DSP& model, float loudnessGain,
                      ToneSwitches tone, ChainState& state, float outputGain = 1.0f);

    // Brings every signal state back to where a fresh processor starts: the filters, the DC
    // blocker, the resampler histories and the 2:1 phase, and the model (when given) to its
    // warmed-up state. Allocates nothing.
    void reset(ChainState& state, kep::DSP* model);

    // Parity of the next host-rate sample at 96 kHz (0 = kept by the decimator). After a reset, and
    // whenever the input has been silent for the resampler's window and the output below 1e-7, the
    // first non-zero input sample is one the decimator keeps, however many zeros came before it.
    int phase() const { return phase_; }

private:
    // processChunk; a null model counts as a failed chunk without a model call.
    bool runChunk(float* chunk, int c, int sampleRate, kep::DSP* model, float loudnessGain, ToneSwitches tone,
                  ChainState& state, float outputGain);

    std::array<float, maxChunk> modelInput_{};
    std::array<float, maxChunk> modelOutput_{};
    int phase_ = 0;
};

} // namespace ferrowick
