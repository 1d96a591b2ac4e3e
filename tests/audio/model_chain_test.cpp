#include <algorithm>
#include <array>
#include <cmath>
#include <numeric>
#include <random>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "alloc_counter.h"
#include "core/dsp.h"
#include "audio/FilterRuns.h"
#include "audio/ModelChain.h"

using namespace ferrowick;

namespace
{

// The 43 taps, entered separately from the code's table (half of them; the filter is symmetric).
std::array<float, 43> referenceTaps()
{
    const float half[22] = {0.0018747783f, 0.0038605744f, 0.0013378822f, -0.0037635928f,
                            -0.0043364814f, 0.0034620897f, 0.008369121f, -0.00021748862f,
                            -0.012495928f, -0.0065313363f, 0.014301798f, 0.017168157f,
                            -0.011204941f, -0.030668348f, -0.00035947826f, 0.045248367f,
                            0.025666162f, -0.058348253f, -0.080681026f, 0.06747929f,
                            0.30935758f, 0.42925486f};
    std::array<float, 43> taps{};
    for (int k = 0; k < 22; ++k)
        taps[static_cast<size_t>(k)] = taps[static_cast<size_t>(42 - k)] = half[k];
    return taps;
}

// A stateful model whose output does not depend on how the input is cut into calls.
class SmoothingModel : public kep::DSP
{
public:
    SmoothingModel() : kep::DSP(48000.0) {}
    void process(float* input, float* output, int n) override
    {
        for (int i = 0; i < n; ++i)
            output[i] = state = 0.7f * input[i] + 0.5f * state;
    }
    void remember_state() override { remembered = state; }
    void restore_state() override { state = remembered; }
    float state = 0.0f;
    float remembered = 0.0f;
};

// Copies its input, but for one call (counted from 0) outputs `value` throughout.
class BlowUpModel : public kep::DSP
{
public:
    BlowUpModel(int badCall_, float value_) : kep::DSP(48000.0), badCall(badCall_), value(value_) {}
    void process(float* input, float* output, int n) override
    {
        kep::DSP::process(input, output, n);
        if (calls++ == badCall)
            std::fill(output, output + n, value);
    }
    int badCall;
    float value;
    int calls = 0;
};

class CountingModel : public kep::DSP
{
public:
    CountingModel() : kep::DSP(48000.0) {}
    void process(float* input, float* output, int n) override
    {
        calls.push_back(n);
        kep::DSP::process(input, output, n);
    }
    std::vector<int> calls;
};

// Copies its input for the first `goodCalls` calls, then throws.
class ThrowingModel : public kep::DSP
{
public:
    explicit ThrowingModel(int goodCalls_ = 0) : kep::DSP(48000.0), goodCalls(goodCalls_) {}
    void process(float* input, float* output, int n) override
    {
        if (goodCalls-- > 0)
            return kep::DSP::process(input, output, n);
        std::fill(output, output + n, 123.0f); // half-written output must not leak out
        throw std::runtime_error("model failed");
    }
    int goodCalls;
};

// The audio path's chunk stages written out plainly, chunks of up to 256, one block at a time.
struct LiteralPath
{
    std::array<float, 1067> dec{}, itp{};
    float lpLast = 0.0f, mean = 0.0f;
    struct Section
    {
        float b0, b1, b2, a1, a2, x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    } boost, cut;
    std::array<float, 43> taps = referenceTaps();

    explicit LiteralPath(const Biquad& bb, const Biquad& bc)
        : boost{bb.b0, bb.b1, bb.b2, bb.a1, bb.a2}, cut{bc.b0, bc.b1, bc.b2, bc.a1, bc.a2}
    {
    }

    void block(std::vector<float>& ch0, int rate, kep::DSP& model, float loud, ToneSwitches t)
    {
        const int n = static_cast<int>(ch0.size());
        for (int pos = 0; pos < n; pos += 256)
        {
            const int c = std::min(256, n - pos);
            float* x = ch0.data() + pos;
            float in[256], out[256];
            int m = c;
            if (rate == 48000)
                for (int j = 0; j < c; ++j)
                    in[j] = x[j];
            else
            {
                for (int i = 0; i + c < 1067; ++i)
                    dec[static_cast<size_t>(i)] = dec[static_cast<size_t>(i + c)];
                float f[256];
                for (int j = 0; j < c; ++j)
                {
                    const int p = 1067 - c + j;
                    dec[static_cast<size_t>(p)] = x[j];
                    float sum = 0.0f;
                    for (int k = 0; k <= 42; ++k)
                        sum += taps[static_cast<size_t>(k)] * dec[static_cast<size_t>(p - k)];
                    f[j] = sum;
                }
                m = c / 2;
                for (int i = 0; i < m; ++i)
                    in[i] = f[2 * i];
            }
            model.process(in, out, m);
            for (int i = 0; i < m; ++i)
                out[i] *= loud;
            if (t.lowpass)
                for (int i = 0; i < m; ++i)
                {
                    const float v = out[i];
                    lpLast = out[i] = (v == 0.0f && std::abs(lpLast) < 1e-7f) ? 0.0f : 0.618034f * v + 0.381966f * lpLast;
                }
            for (Section* s : {t.bassBoost ? &boost : nullptr, t.bassCut ? &cut : nullptr})
                if (s)
                    for (int i = 0; i < m; ++i)
                    {
                        const float v = out[i];
                        const float y = s->b0 * v + s->b1 * s->x1 + s->b2 * s->x2 - s->a1 * s->y1 - s->a2 * s->y2;
                        s->x2 = s->x1;
                        s->x1 = v;
                        s->y2 = s->y1;
                        s->y1 = y;
                        out[i] = y;
                    }
            for (int i = 0; i < m; ++i)
            {
                const float v = out[i];
                if (v == 0.0f && std::abs(mean) < 1e-6f)
                    out[i] = 0.0f;
                else
                {
                    mean = 0.99477744f * mean + 0.005222559f * v;
                    out[i] = v - mean;
                }
            }
            if (rate == 48000)
                for (int j = 0; j < c; ++j)
                    x[j] = out[j];
            else
            {
                float z[256];
                for (int i = 0; i < m; ++i)
                {
                    z[2 * i] = 2.0f * out[i];
                    z[2 * i + 1] = 0.0f;
                }
                for (int i = 0; i + c < 1067; ++i)
                    itp[static_cast<size_t>(i)] = itp[static_cast<size_t>(i + c)];
                for (int j = 0; j < c; ++j)
                {
                    const int p = 1067 - c + j;
                    itp[static_cast<size_t>(p)] = z[j];
                    float sum = 0.0f;
                    for (int k = 0; k <= 42; ++k)
                        sum += taps[static_cast<size_t>(k)] * itp[static_cast<size_t>(p - k)];
                    x[j] = sum;
                }
            }
        }
    }
};

// The processor's members as the chain sees them.
struct Processor
{
    OnePoleLowpass lowpassFilter;
    DcBlocker dcBlocker;
    Biquad bassCutFilter = bassPeakFilter(48000.0f, -3.0f);
    Biquad bassBoostFilter = bassPeakFilter(48000.0f, 3.0f);
    float decimatorHistory[1067] = {};
    std::array<float, 1067> interpolatorHistory{};
    ChainState state{lowpassFilter, bassBoostFilter, bassCutFilter, dcBlocker, decimatorHistory,
                     interpolatorHistory};
    ModelChain chain;

    bool run(std::vector<float>& x, int rate, kep::DSP& model, float loud, ToneSwitches t, float outputGain = 1.0f)
    {
        return chain.processBlock(x.data(), static_cast<int>(x.size()), rate, model, loud, t, state, outputGain);
    }
};

using testing_support::noise;

constexpr ToneSwitches allOn{true, true, true};

} // namespace

TEST(Resampler, TapTableMatchesTheDesign)
{
    const auto taps = referenceTaps();
    float sum = 0.0f;
    for (int k = 0; k < 43; ++k)
    {
        EXPECT_EQ(filter_taps[k], taps[static_cast<size_t>(k)]) << k;
        sum += filter_taps[k];
    }
    EXPECT_NEAR(sum, 1.00829f, 1e-5f);
}

// Several blocks, tone filters on, through a stateful model: sample for sample the plain chain.
TEST(ModelChain, MatchesThePlainPathAtBothRates)
{
    for (int rate : {48000, 96000})
        for (ToneSwitches t : {allOn, ToneSwitches{}, ToneSwitches{true, false, true}})
        {
            Processor proc;
            LiteralPath ref(proc.bassBoostFilter, proc.bassCutFilter);
            SmoothingModel model, refModel;
            for (int n : {512, 1000, 256, 2})
            {
                std::vector<float> x = noise(n, static_cast<unsigned>(n + rate));
                std::vector<float> expected = x;
                EXPECT_TRUE(proc.run(x, rate, model, 0.8f, t));
                ref.block(expected, rate, refModel, 0.8f, t);
                for (int i = 0; i < n; ++i)
                    ASSERT_EQ(x[static_cast<size_t>(i)], expected[static_cast<size_t>(i)])
                        << "rate " << rate << " block " << n << " sample " << i;
            }
            EXPECT_EQ(proc.chain.phase(), 0);
        }
}

TEST(ModelChain, IdentityModelAt48kHz)
{
    Processor proc;
    kep::DSP identity(48000.0);
    std::vector<float> x = {0.5f, -0.25f, 0.0f, 1.0f};
    const std::vector<float> in = x;
    ASSERT_TRUE(proc.run(x, 48000, identity, 2.0f, ToneSwitches{}));
    // Loudness gain then the DC blocker only.
    float mean = 0.0f;
    for (size_t i = 0; i < in.size(); ++i)
    {
        const float v = in[i] * 2.0f;
        if (v == 0.0f && std::abs(mean) < 1e-6f)
        {
            EXPECT_EQ(x[i], 0.0f);
            continue;
        }
        mean = 0.99477744f * mean + 0.005222559f * v;
        EXPECT_EQ(x[i], v - mean) << i;
    }
}

// Low-pass, then boost, then cut, then the DC blocker: a different order gives other samples.
TEST(ModelChain, TonesRunInOrder)
{
    Processor proc;
    kep::DSP identity(48000.0);
    std::vector<float> x = noise(300, 11);
    const std::vector<float> in = x;
    ASSERT_TRUE(proc.run(x, 48000, identity, 1.0f, allOn));

    Processor fresh;
    std::vector<float> y = in;
    runLowpass(fresh.lowpassFilter, y.data(), 300);
    runBiquad(fresh.bassBoostFilter, y.data(), 300);
    runBiquad(fresh.bassCutFilter, y.data(), 300);
    runDcBlocker(fresh.dcBlocker, y.data(), 300);
    EXPECT_EQ(x, y);

    Processor swapped;
    std::vector<float> w = in;
    runLowpass(swapped.lowpassFilter, w.data(), 300);
    runBiquad(swapped.bassCutFilter, w.data(), 300);
    runBiquad(swapped.bassBoostFilter, w.data(), 300);
    runDcBlocker(swapped.dcBlocker, w.data(), 300);
    EXPECT_NE(x, w);
}

TEST(ModelChain, ModelCallsPerChunk)
{
    Processor proc;
    CountingModel model;
    std::vector<float> x = noise(512, 1);
    proc.run(x, 96000, model, 1.0f, ToneSwitches{});
    EXPECT_EQ(model.calls, (std::vector<int>{128, 128}));

    model.calls.clear();
    std::vector<float> y = noise(1000, 2);
    proc.run(y, 48000, model, 1.0f, ToneSwitches{});
    EXPECT_EQ(model.calls, (std::vector<int>{256, 256, 256, 232}));
}

// Odd chunks at 96 kHz keep the 2:1 phase: the model gets ceil or floor of c/2 by phase, and
// one sample on the dropped phase makes no call at all.
TEST(ModelChain, OddChunksFollowTheAbsolutePhase)
{
    Processor proc;
    CountingModel model;
    std::vector<float> x = noise(3, 1);
    proc.run(x, 96000, model, 1.0f, ToneSwitches{}); // positions 0, 1, 2: keeps 0 and 2
    EXPECT_EQ(proc.chain.phase(), 1);
    std::vector<float> one = {0.5f};
    proc.run(one, 96000, model, 1.0f, ToneSwitches{}); // position 3: dropped
    EXPECT_EQ(proc.chain.phase(), 0);
    std::vector<float> y = noise(255, 2);
    proc.run(y, 96000, model, 1.0f, ToneSwitches{}); // positions 4..258
    EXPECT_EQ(model.calls, (std::vector<int>{2, 128}));
    EXPECT_EQ(proc.chain.phase(), 1);
}

TEST(ModelChain, SplittingIntoOddBlocksChangesNothing)
{
    const int total = 3001;
    const std::vector<float> signal = noise(total, 5);

    Processor whole;
    SmoothingModel wholeModel;
    std::vector<float> expected = signal;
    ASSERT_TRUE(whole.run(expected, 96000, wholeModel, 0.9f, allOn));

    std::mt19937 gen(9);
    for (int trial = 0; trial < 3; ++trial)
    {
        Processor split;
        SmoothingModel splitModel;
        std::vector<float> got;
        int pos = 0;
        int index = 0;
        while (pos < total)
        {
            // Odd lengths of every size class, with the occasional even one and one above 256.
            int len = index % 7 == 6 ? 2 * static_cast<int>(gen() % 200) : 2 * static_cast<int>(gen() % 160) + 1;
            if (index == 3)
                len = 513;
            len = std::min(len, total - pos);
            std::vector<float> block(signal.begin() + pos, signal.begin() + pos + len);
            ASSERT_TRUE(split.run(block, 96000, splitModel, 0.9f, allOn));
            got.insert(got.end(), block.begin(), block.end());
            pos += len;
            ++index;
        }
        ASSERT_EQ(got.size(), expected.size());
        for (int i = 0; i < total; ++i)
            ASSERT_EQ(got[static_cast<size_t>(i)], expected[static_cast<size_t>(i)]) << "trial " << trial << " sample " << i;
    }
}

TEST(ModelChain, ThrowingModelIsContained)
{
    for (int rate : {48000, 96000})
    {
        Processor proc;
        kep::DSP identity(48000.0);
        std::vector<float> warm = noise(300, 3);
        ASSERT_TRUE(proc.run(warm, rate, identity, 1.0f, allOn));
        const float meanBefore = proc.dcBlocker.mean;
        const float lpBefore = proc.lowpassFilter.lastOutput;
        const int phaseBefore = proc.chain.phase();

        ThrowingModel bad;
        std::vector<float> x = noise(600, 4);
        bool ok = true;
        EXPECT_NO_THROW(ok = proc.run(x, rate, bad, 1.0f, allOn));
        EXPECT_FALSE(ok);
        for (float v : x)
            ASSERT_EQ(v, 0.0f) << rate;
        EXPECT_EQ(proc.dcBlocker.mean, meanBefore);
        EXPECT_EQ(proc.lowpassFilter.lastOutput, lpBefore);
        EXPECT_EQ(proc.chain.phase(), rate == 96000 ? (phaseBefore + 600) % 2 : phaseBefore);

        // A failure in a later chunk silences the chunks before it too.
        ThrowingModel late(1);
        std::vector<float> z = noise(600, 5);
        EXPECT_FALSE(proc.run(z, rate, late, 1.0f, allOn));
        for (float v : z)
            ASSERT_EQ(v, 0.0f) << rate;

        // Later blocks with a working model play again.
        std::vector<float> y = noise(300, 6);
        EXPECT_TRUE(proc.run(y, rate, identity, 1.0f, allOn));
        EXPECT_TRUE(std::any_of(y.begin(), y.end(), [](float v) { return v != 0.0f; }));
    }
}

TEST(ModelChain, UnsupportedRateIsSilent)
{
    Processor proc;
    CountingModel model;
    std::vector<float> x = noise(100, 8);
    EXPECT_FALSE(proc.run(x, 44100, model, 1.0f, allOn));
    EXPECT_TRUE(model.calls.empty());
    for (float v : x)
        EXPECT_EQ(v, 0.0f);
}

TEST(ModelChain, ChunkPathAllocatesNothing)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    Processor proc;
    kep::DSP identity(48000.0);
    std::vector<float> x = noise(1001, 12);
    std::vector<float> poisoned = noise(600, 13);
    poisoned[300] = NAN;
    alloc_counter::Scope scope;
    for (int rate : {48000, 96000})
    {
        proc.run(x, rate, identity, 1.0f, allOn);
        proc.run(poisoned, rate, identity, 1.0f, allOn);
    }
    proc.chain.processChunk(x.data(), 77, 96000, identity, 1.0f, allOn, proc.state);
    proc.chain.reset(proc.state, &identity);
    EXPECT_EQ(scope.counts().allocations, 0u);
}

// The output of a fresh chain and model for `input`, at a rate, tones on, output gain 2.
std::vector<float> freshOutput(std::vector<float> input, int rate)
{
    Processor fresh;
    SmoothingModel model;
    fresh.run(input, rate, model, 0.8f, allOn, 2.0f);
    return input;
}

// A NaN or an infinity in the input silences exactly the chunk that carries it; every state is
// cleared there, so from the next chunk on the output is that of a fresh chain.
TEST(ModelChain, NonFiniteInputStaysInItsChunk)
{
    const int chunk = ModelChain::maxChunk, bad = 2 * chunk, total = 5 * chunk;
    const std::vector<float> clean = noise(total, 21);
    const std::vector<std::vector<int>> placements = {{bad + 100}, {bad}, {bad + chunk - 1}, {}};
    for (int rate : {48000, 96000})
        for (float value : {NAN, INFINITY, -INFINITY})
            for (size_t p = 0; p < placements.size(); ++p)
            {
                SCOPED_TRACE(testing::Message() << rate << " Hz, " << value << ", placement " << p);
                std::vector<float> x = clean;
                if (placements[p].empty())
                    std::fill(x.begin() + bad, x.begin() + bad + chunk, value); // the whole chunk
                for (int i : placements[p])
                    x[static_cast<size_t>(i)] = value;

                Processor proc;
                SmoothingModel model;
                model.remember_state();
                proc.run(x, rate, model, 0.8f, allOn, 2.0f);

                const auto before = freshOutput(std::vector<float>(clean.begin(), clean.begin() + bad), rate);
                const auto after = freshOutput(std::vector<float>(clean.begin() + bad + chunk, clean.end()), rate);
                for (int i = 0; i < total; ++i)
                {
                    const float expected = i < bad ? before[static_cast<size_t>(i)]
                                           : i < bad + chunk ? 0.0f
                                                             : after[static_cast<size_t>(i - bad - chunk)];
                    ASSERT_EQ(x[static_cast<size_t>(i)], expected) << "sample " << i;
                }
            }
}

// Output that turns non-finite, in the model or through the output gain, is contained the same way.
TEST(ModelChain, NonFiniteOutputStaysInItsChunk)
{
    for (const auto& [value, outputGain] : {std::pair{INFINITY, 1.0f}, std::pair{1e38f, 10.0f}})
    {
        Processor proc;
        BlowUpModel model(1, value);
        std::vector<float> x = noise(3 * ModelChain::maxChunk, 22);
        const std::vector<float> in = x;
        EXPECT_TRUE(proc.run(x, 48000, model, 1.0f, allOn, outputGain));

        Processor fresh;
        BlowUpModel copy(-1, 0.0f);
        std::vector<float> after(in.begin() + 2 * ModelChain::maxChunk, in.end());
        fresh.run(after, 48000, copy, 1.0f, allOn, outputGain);
        for (int i = 0; i < 3 * ModelChain::maxChunk; ++i)
        {
            const int c = i / ModelChain::maxChunk;
            ASSERT_TRUE(std::isfinite(x[static_cast<size_t>(i)])) << i;
            const float expected = c == 0 ? x[static_cast<size_t>(i)]
                                   : c == 1 ? 0.0f
                                            : after[static_cast<size_t>(i - 2 * ModelChain::maxChunk)];
            ASSERT_EQ(x[static_cast<size_t>(i)], expected) << i;
        }
    }
}
