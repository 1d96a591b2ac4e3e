// Cost of the audio path per host block (the whole chunk chain), and of the check that keeps NaN and
// infinities out of the output.
//   ferrowick_audio_path_bench [SECONDS_OF_AUDIO_PER_RUN]
//
// Runs the model chain (model input, model, loudness, all tone filters, DC blocker, model output)
// over 512-sample host blocks of noise at 48 and 96 kHz, with a model that passes its input
// through (the chain's own work only, where the check weighs most) and with a 16-tap Linear model
// like the demo catalogue's, then applies the output gain. In the same run it times the finite
// check on its own over what one block checks (each chunk's input and output), and prints the
// check's share of the block's time. Best of 3 runs each.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "audio/Biquad.h"
#include "audio/Gain.h"
#include "audio/ModelChain.h"
#include "core/linear.h"

namespace
{
using namespace ferrowick;
constexpr int blockSize = 512;

// The best of 3 runs of `blocks` calls, in nanoseconds per call.
double nanosecondsPerCall(int blocks, const std::function<void(int)>& call)
{
    double best = 1e300;
    for (int run = 0; run < 3; ++run)
    {
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < blocks; ++i)
            call(i);
        const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count() / blocks);
    }
    return best;
}

void runCase(const char* name, kep::DSP& model, int rate, double seconds)
{
    OnePoleLowpass lowpass;
    DcBlocker dcBlocker;
    Biquad boost = bassPeakFilter(48000.0f, 3.0f), cut = bassPeakFilter(48000.0f, -3.0f);
    std::vector<float> decimatorHistory(resamplerHistorySize), interpolatorHistory(resamplerHistorySize);
    ChainState state { lowpass, boost, cut, dcBlocker, ResamplerHistory(decimatorHistory.data(), resamplerHistorySize),
                       ResamplerHistory(interpolatorHistory.data(), resamplerHistorySize) };
    ModelChain chain;
    const ToneSwitches tones { true, true, true };

    // A second of noise at -12 dBFS, played block after block.
    std::mt19937 generator(7);
    std::uniform_real_distribution<float> noise(-0.25f, 0.25f);
    std::vector<float> source(static_cast<size_t>(rate));
    for (auto& v : source)
        v = noise(generator);
    std::vector<float> block(blockSize);
    const int blocksPerSecond = rate / blockSize;
    const int blocks = std::max(1, static_cast<int>(seconds * rate / blockSize));

    const double path = nanosecondsPerCall(blocks, [&](int i) {
        const float* from = source.data() + static_cast<size_t>(i % blocksPerSecond) * blockSize;
        std::copy(from, from + blockSize, block.data());
        chain.processBlock(block.data(), blockSize, rate, model, 0.8f, tones, state);
        applyGain(block.data(), blockSize, 0.9f);
    });
    // What the chain checks per block: every chunk's input and output.
    volatile bool sink = true;
    const double check = nanosecondsPerCall(blocks, [&](int i) {
        const float* from = source.data() + static_cast<size_t>(i % blocksPerSecond) * blockSize;
        sink = allFinite(from, blockSize) && allFinite(block.data(), blockSize);
    });
    std::printf("%-26s %6d Hz  path %9.0f ns/block  finite check %6.1f ns/block  check / path %.4f\n", name, rate,
                path, check, check / path);
}
} // namespace

int main(int argc, char** argv)
{
    char* end = nullptr;
    const double seconds = argc > 1 ? std::strtod(argv[1], &end) : 2.0;
    if (argc > 2 || (argc > 1 && (end == argv[1] || *end != '\0' || !(seconds > 0.0))))
    {
        std::fprintf(stderr, "usage: %s [SECONDS]\nTimes the audio path's chunk stages per 512-sample block; "
                             "SECONDS of audio per run (default 2, best of 3).\n", argv[0]);
        return 2;
    }
    std::printf("one thread, blocks of %d samples, %.1f s of audio per run, best of 3\n", blockSize, seconds);

    std::vector<float> taps(16);
    for (size_t j = 0; j < taps.size(); ++j)
        taps[j] = 0.3f / static_cast<float>(j + 1);
    kep::Linear linear(16, false, taps, 48000.0);
    linear.reserve_history(ModelChain::maxChunk);
    kep::DSP through(48000.0);
    for (const int rate : { 48000, 96000 })
    {
        runCase("model passing input on", through, rate, seconds);
        runCase("Linear model, 16 taps", linear, rate, seconds);
    }
    return 0;
}
