#include "audio/ModelChain.h"

#include <algorithm>

#include "audio/FilterRuns.h"
#include "audio/Gain.h"

namespace ferrowick
{

bool ModelChain::processChunk(float* chunk, int c, int sampleRate, kep::DSP& model,
                              float loudnessGain, ToneSwitches tone, ChainState& state, float outputGain)
{
    if (c > maxChunk)
        return processBlock(chunk, c, sampleRate, model, loudnessGain, tone, state, outputGain);
    return runChunk(chunk, c, sampleRate, &model, loudnessGain, tone, state, outputGain);
}

void ModelChain::reset(ChainState& state, kep::DSP* model)
{
    state.lowpassFilter.lastOutput = 0.0f;
    for (Biquad* filter : { &state.bassBoostFilter, &state.bassCutFilter })
        filter->x1 = filter->x2 = filter->y1 = filter->y2 = 0.0f;
    state.dcBlocker.mean = 0.0f;
    std::fill(state.decimatorHistory.begin(), state.decimatorHistory.end(), 0.0f);
    std::fill(state.interpolatorHistory.begin(), state.interpolatorHistory.end(), 0.0f);
    phase_ = 0;
    if (model != nullptr)
        model->restore_state();
}

bool ModelChain::runChunk(float* chunk, int c, int sampleRate, kep::DSP* model, float loudnessGain,
                          ToneSwitches tone, ChainState& state, float outputGain)
{
    if (c <= 0)
        return true;

    const bool resampled = sampleRate == 96000;
    if (!resampled && sampleRate != 48000)
    {
        std::fill(chunk, chunk + c, 0.0f);
        return false;
    }

    // A NaN or an infinity would stay in the histories and filters for good: the chunk that
    // carries one in, or brings one out, is silent and leaves nothing of it behind.
    auto contain = [&] {
        reset(state, model);
        std::fill(chunk, chunk + c, 0.0f);
        return true;
    };
    if (!allFinite(chunk, c))
        return contain();

    // Once the input has been silent for the resampler's whole window and the output has died
    // away (below 1e-7), which of the silent samples the decimator kept is unseen: the next sound
    // takes the kept phase. A take after silence then plays alike whatever the host ran before
    // it, odd or even, sound or not. (The bass filters' tails can end in values near 1e-37
    // rather than in exact zeros.)
    if (resampled)
    {
        const int sound = static_cast<int>(std::find_if(chunk, chunk + c, [](float x) { return x != 0.0f; }) - chunk);
        if (sound < c && isQuiet(state.decimatorHistory, 0.0f) && isQuiet(state.interpolatorHistory, 1e-7f))
            phase_ = sound & 1;
    }

    float* in = modelInput_.data();
    float* out = modelOutput_.data();
    const int startPhase = phase_;
    int m = c;
    if (resampled)
    {
        m = decimate(state.decimatorHistory, chunk, c, startPhase, in);
        phase_ = (startPhase + c) & 1;
    }
    else
    {
        std::copy(chunk, chunk + c, in);
    }

    bool ok = model != nullptr;
    if (ok && m > 0)
    {
        try
        {
            model->process(in, out, m);
        }
        catch (...)
        {
            ok = false;
        }
    }

    if (ok)
    {
        applyGain(out, m, loudnessGain);
        if (tone.lowpass)
            runLowpass(state.lowpassFilter, out, m);
        if (tone.bassBoost)
            runBiquad(state.bassBoostFilter, out, m);
        if (tone.bassCut)
            runBiquad(state.bassCutFilter, out, m);
        runDcBlocker(state.dcBlocker, out, m);
    }
    else
    {
        std::fill(out, out + m, 0.0f);
    }

    if (resampled)
        interpolate(state.interpolatorHistory, out, c, startPhase, chunk);
    else
        std::copy(out, out + c, chunk);

    if (!ok)
    {
        std::fill(chunk, chunk + c, 0.0f);
        return false;
    }
    applyGain(chunk, c, outputGain);
    if (!allFinite(chunk, c))
        return contain();
    return true;
}

bool ModelChain::processBlock(float* samples, int n, int sampleRate, kep::DSP& model,
                              float loudnessGain, ToneSwitches tone, ChainState& state, float outputGain)
{
    bool ok = true;
    for (int pos = 0; pos < n; pos += maxChunk)
    {
        const int c = std::min(n - pos, maxChunk);
        // After a failure the model is not called again; the rest of the block only moves the
        // resampler on.
        ok = runChunk(samples + pos, c, sampleRate, ok ? &model : nullptr, loudnessGain, tone, state, outputGain) && ok;
    }
    if (!ok)
        std::fill(samples, samples + std::max(n, 0), 0.0f);
    return ok;
}

} // namespace ferrowick
