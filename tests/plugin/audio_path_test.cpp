// The processor's audio path as a whole (gains, meter, chunking, resampling, loudness, tone
// filters, DC blocker, output gain, channel handling), checked against the stream-wise reference
// in audio_reference.h.

#include <memory>
#include <numeric>

#include <limits>

#include "audio_reference.h"

namespace
{
using namespace proc_testing;
class AudioPath : public CatalogueHome
{
protected:
    void playsLikeTheReference(double rate, const std::vector<int>& blocks, const char* extraMetadata = "");
};

float rms(const std::vector<float>& x, float gain)
{
    float sum = 0.0f;
    for (auto v : x)
        sum += (v * gain) * (v * gain);
    return x.empty() ? 0.0f : std::sqrt(sum / static_cast<float>(x.size()));
}

// An entry "Rec" with GainAdjust 6 dB and one snapshot without a model file, with a recording
// model handed straight to its pending slot.
struct RecordingSetup
{
    std::unique_ptr<CorvaneAudioProcessor> processor;
    std::shared_ptr<RecordingModel> model;
};

RecordingSetup recordingProcessor(float scale, float loudness)
{
    RecordingSetup setup;
    setup.processor = std::make_unique<CorvaneAudioProcessor>();
    setup.model = std::make_shared<RecordingModel>(scale);
    setup.processor->modelSource->publish(setup.model, loudness);
    return setup;
}

TEST_F(AudioPath, InputGainEntersTwiceTheMeterOnceAndGainAdjustOnce)
{
    writeFolder("Rec", "GainAdjust=6\n", 1, {});
    auto [processor, model] = recordingProcessor(0.5f, 0.8f);
    ASSERT_EQ(processor->modelSource->ModelId, "Rec");
    setParameter(*processor, "GainIn", 1.0f);   // +20 dB
    setParameter(*processor, "GainOut", 0.25f); // -25 dB
    ASSERT_EQ(parameterValue(*processor, "GainIn"), 1.0f);

    reference::Path path;
    path.model = [](float x) { return 0.5f * x; };
    path.loudness = 0.8f;
    path.gainAdjustDb = 6.0f;
    takeGains(path, *processor);
    ASSERT_FLOAT_EQ(path.gainIn, 10.0f);

    const auto x = signal(1000, 0.01f);
    const auto out = run(*processor, x);

    // The model receives the input times gIn squared times the adjustment.
    ASSERT_EQ(model->inputs.size(), x.size());
    const float toModel = 10.0f * 10.0f * reference::dbToGain(6.0f);
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(model->inputs[i], x[i] * toModel, 1e-5f * std::fabs(x[i] * toModel) + 1e-9f) << i;
    // The meter shows the input raised once (+20 dB), not twice.
    EXPECT_NEAR(processor->inputLevel.load(), rms(x, 10.0f), 1e-6f);
    EXPECT_NEAR(processor->inputLevel.load(), 10.0f * rms(x, 1.0f), 1e-5f);

    const auto expected = path.process(x);
    EXPECT_TRUE(near(channel(out, 0), expected));
    EXPECT_EQ(channel(out, 1), channel(out, 0));

    // A block without samples reads as level 0 and leaves the path where it was.
    run(*processor, {});
    EXPECT_EQ(processor->inputLevel.load(), 0.0f);
    const auto more = signal(300, 0.01f, 1000);
    EXPECT_TRUE(near(channel(run(*processor, more), 0), path.process(more)));
}

TEST_F(AudioPath, DefaultGainsAreUnityAndNoAdjustmentPassesTheInput)
{
    writeFolder("Flat", "GainAdjust=0\n", 1, {});
    auto [processor, model] = recordingProcessor(1.0f, 1.0f);
    ASSERT_EQ(parameterValue(*processor, "GainIn"), 0.66666698455810546875f);
    const auto x = signal(600);
    const auto out = run(*processor, x);
    ASSERT_EQ(model->inputs.size(), x.size());
    for (size_t i = 0; i < x.size(); ++i)
        ASSERT_NEAR(model->inputs[i], x[i], 1e-5f) << i;
    EXPECT_NEAR(processor->inputLevel.load(), rms(x, 1.0f), 1e-5f);
    reference::Path path;
    path.model = [](float v) { return v; };
    takeGains(path, *processor);
    EXPECT_TRUE(near(channel(out, 0), path.process(x)));
}

TEST_F(AudioPath, ModelIsCalledInChunksOf256At48kAnd128At96k)
{
    writeFolder("Rec", "", 1, {});
    auto [processor, model] = recordingProcessor(1.0f, 1.0f);

    run(*processor, signal(1000));
    EXPECT_EQ(model->calls, (std::vector<int> { 256, 256, 256, 232 }));
    model->calls.clear();
    run(*processor, signal(256));
    run(*processor, signal(1));
    EXPECT_EQ(model->calls, (std::vector<int> { 256, 1 }));

    processor->prepareToPlay(96000.0, 512);
    model->calls.clear();
    run(*processor, signal(512));
    EXPECT_EQ(model->calls, (std::vector<int> { 128, 128 }));
    model->calls.clear();
    run(*processor, signal(1000));
    EXPECT_EQ(model->calls, (std::vector<int> { 128, 128, 128, 116 }));

    // Odd blocks keep the 2:1 phase: every second host sample reaches the model, whatever the
    // block lengths.
    model->calls.clear();
    for (int n : { 255, 257, 1, 1, 1, 1, 3, 5 })
        run(*processor, signal(static_cast<size_t>(n)));
    EXPECT_EQ(std::accumulate(model->calls.begin(), model->calls.end(), 0), (255 + 257 + 4 + 8) / 2);
}

struct ToneCase
{
    const char* metadata;
    reference::Tones tones;
};

const ToneCase toneCases[] = {
    { "", { false, false, false } },
    { "Lowpass=true\n", { true, false, false } },
    { "BassBoost=TRUE\n", { false, true, false } },
    { "BassCut=True\n", { false, false, true } },
    { "Lowpass=true\nBassBoost=true\nBassCut=true\n", { true, true, true } },
};

const std::vector<float> linearTaps = { 0.6f, -0.3f, 0.15f, 0.05f, -0.02f };

// Plays blocks of the given lengths through a Linear model file (loudness -16, GainAdjust -2.5,
// gains away from their defaults) and compares every block with the reference.
void AudioPath::playsLikeTheReference(double rate, const std::vector<int>& blocks, const char* extraMetadata)
{
    for (const auto& tone : toneCases)
    {
        SCOPED_TRACE(tone.metadata);
        // The bass filters' double pole near 1 magnifies any rounding difference of their input a
        // thousandfold; with them, a one-tap model keeps the reference's input bit for bit. A one-tap
        // model leaves no sum to order, so then the whole path matches the reference to the bit.
        const bool bass = tone.tones.bassBoost || tone.tones.bassCut;
        const std::vector<float> taps = bass ? std::vector<float> { 0.8f } : linearTaps;
        writeFolder("Lin", juce::String("GainAdjust=-2.5\n") + tone.metadata + extraMetadata, 1,
                    { { 0, linearModelFile(taps, -16.0) } });
        CorvaneAudioProcessor processor;
        processor.setModel("Lin", 0);
        ASSERT_NE(processor.modelSource->PendingModel.load(), nullptr);
        processor.prepareToPlay(rate, 512);
        setParameter(processor, "GainIn", 0.75f);
        setParameter(processor, "GainOut", 0.6f);

        reference::Path path;
        path.rate = static_cast<int>(rate);
        path.tones = tone.tones;
        path.gainAdjustDb = -2.5f;
        path.loudness = reference::loudnessGain(-16.0f);
        auto linear = std::make_shared<reference::LinearModel>();
        linear->w = taps;
        path.model = [linear](float x) { return linear->step(x); };
        takeGains(path, processor);

        size_t offset = 0;
        for (int n : blocks)
        {
            const auto x = signal(static_cast<size_t>(n), 0.4f, offset);
            offset += x.size();
            const auto out = run(processor, x);
            const auto expected = path.process(x);
            ASSERT_TRUE(near(channel(out, 0), expected, bass ? 0.0f : 2e-6f)) << "block of " << n << " at " << offset;
            ASSERT_EQ(channel(out, 1), channel(out, 0));
            ASSERT_NEAR(processor.inputLevel.load(), path.lastLevel, 1e-6f);
        }
    }
}

TEST_F(AudioPath, FortyEightKilohertzPlaysLikeTheReference)
{
    playsLikeTheReference(48000.0, { 1000, 1, 333, 256, 2048, 17 });
}

TEST_F(AudioPath, NinetySixKilohertzPlaysLikeTheReference)
{
    playsLikeTheReference(96000.0, { 512, 1000, 256, 2, 1024 });
}

TEST_F(AudioPath, NinetySixKilohertzWithOddBlocksPlaysLikeTheReference)
{
    playsLikeTheReference(96000.0, { 255, 1, 3, 777, 64, 1, 1, 300 });
}

// A bounce must not depend on the run: hosts split their blocks differently from one run to the
// next (a latency pre-roll of its own length among them) and play a varying amount of silence,
// odd or even, with or without a reset, before the take; or the user plays the take before the
// bounce. Every architecture, with the tone filters its entry switches on, bit for bit.
TEST_F(AudioPath, EveryArchitecturePlaysATakeAlikeWhateverTheBlocksAndTheSilenceBefore)
{
    makeCatalogue();
    const auto take = signal(4096, 0.4f);
    struct Run
    {
        int silentBlocks;
        bool resetInSilence;
        std::vector<size_t> pieces;
        size_t moreSilence = 0; // after the blocks, in a block of its own
        bool takeFirst = false; // the take plays once before the silence
    };
    for (const double rate : { 48000.0, 96000.0 })
        for (const char* id : { "LinearClean", "ConvCrunch", "LstmLead", "WaveHigh" })
        {
            SCOPED_TRACE(juce::String(id) + " at " + juce::String(rate));
            auto play = [&](const Run& r) {
                CorvaneAudioProcessor processor;
                processor.setModel(id, 0);
                processor.prepareToPlay(rate, 2048);
                // Silence gives silence, unless the take played before it.
                auto playSilence = [&](size_t n) {
                    const auto out = channel(run(processor, std::vector<float>(n, 0.0f)), 0);
                    EXPECT_TRUE(r.takeFirst || allZero(out));
                };
                if (r.takeFirst)
                    run(processor, take);
                for (int i = 0; i < r.silentBlocks; ++i)
                {
                    playSilence(1024);
                    if (r.resetInSilence && i == r.silentBlocks / 2)
                        processor.reset();
                }
                if (r.moreSilence > 0)
                    playSilence(r.moreSilence);
                std::vector<float> out;
                size_t at = 0;
                for (size_t n : r.pieces)
                {
                    const auto block = channel(run(processor, slice(take, at, n)), 0);
                    out.insert(out.end(), block.begin(), block.end());
                    at += n;
                }
                EXPECT_EQ(at, take.size());
                return out;
            };
            const auto first = play({ 0, false, { 4096 } });
            ASSERT_FALSE(allZero(first));
            for (const Run& r : { Run { 3, false, { 1024, 710, 42, 272, 1024, 1024 } },
                                  Run { 8, true, { 1750, 256, 42, 2048 } }, Run { 5, true, { 1, 4095 } },
                                  Run { 1, false, { 333, 7, 1000, 2756 } }, Run { 0, false, { 4096 }, 1 },
                                  Run { 2, true, { 709, 42, 3345 }, 315 } })
                EXPECT_EQ(play(r), first) << r.silentBlocks << " silent blocks, first piece " << r.pieces[0];
            // After the take and half a second of silence, odd or even: within 2e-6 of a fresh
            // instance, as the DC blocker keeps a mean below 1e-6 from the first playing.
            const auto listened = play({ 24, false, { 4096 }, 0, true });
            EXPECT_EQ(play({ 24, false, { 1750, 256, 42, 2048 }, 1, true }), listened);
            EXPECT_TRUE(near(listened, first));
        }
}

TEST_F(AudioPath, FiltersGiveExactZerosOnceTheirStateHasDecayed)
{
    // A pass-through model, so that the model output is exactly zero when the input is.
    writeFolder("One", "Lowpass=true\n", 1, { { 0, linearModelFile({ 1.0f }, -10.0) } });
    CorvaneAudioProcessor processor;
    reference::Path path;
    path.tones.lowpass = true;
    path.model = [](float x) { return x; };
    takeGains(path, processor);

    auto play = [&](const std::vector<float>& x) {
        const auto out = channel(run(processor, x), 0);
        const auto expected = path.process(x);
        EXPECT_TRUE(near(out, expected));
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_EQ(out[i] == 0.0f, expected[i] == 0.0f) << i;
        return out;
    };

    // After a signal of either sign the output decays through non-zero values before it becomes
    // 0: the low-pass holds until its last output is below 1e-7, the DC blocker until its mean is
    // below 1e-6, in magnitude. A signal then resumes from the held mean.
    for (const float level : { 0.25f, -0.25f })
    {
        SCOPED_TRACE(level);
        play(std::vector<float>(3000, level));
        std::vector<float> tail;
        for (int block = 0; block < 40; ++block)
        {
            const auto out = play(std::vector<float>(512, 0.0f));
            tail.insert(tail.end(), out.begin(), out.end());
        }
        ASSERT_NE(tail.front(), 0.0f);
        const auto firstZero = std::find(tail.begin(), tail.end(), 0.0f);
        ASSERT_NE(firstZero, tail.end());
        EXPECT_GT(firstZero - tail.begin(), 100);
        EXPECT_TRUE(allZero(std::vector<float>(firstZero, tail.end())));
        EXPECT_NE(path.dcMean, 0.0f); // held, not decayed to 0
        EXPECT_LT(std::abs(path.dcMean), 1e-6f);
        play(signal(700));
    }
}

TEST_F(AudioPath, UnsupportedRatesAreSilentAndLeaveTheModelPending)
{
    writeFolder("Lin", "", 1, { { 0, linearModelFile(linearTaps, -4.0) } });
    CorvaneAudioProcessor processor;
    setParameter(processor, "GainIn", 1.0f);
    auto* pending = processor.modelSource->PendingModel.load();
    ASSERT_NE(pending, nullptr);

    // Rates that do not fit a whole number of Hz (or are not numbers) count as unsupported too.
    for (const double rate : { 44100.0, 47999.9, 96001.0, 1e12, std::numeric_limits<double>::quiet_NaN(),
                               -std::numeric_limits<double>::infinity(), 192000.0 })
    {
        processor.prepareToPlay(rate, 512);
        const auto x = signal(400);
        const auto out = run(processor, x, 2, 0.7f);
        EXPECT_TRUE(allZero(channel(out, 0))) << rate;
        EXPECT_TRUE(allZero(channel(out, 1))) << rate;
        EXPECT_NEAR(processor.inputLevel.load(), rms(x, 10.0f), 1e-5f) << rate;
        EXPECT_EQ(processor.modelSource->PendingModel.load(), pending) << rate;
        EXPECT_EQ(processor.modelSource->ActiveModel.load(), nullptr) << rate;
    }
    EXPECT_EQ(processor.sampleRate, 192000);
    processor.prepareToPlay(47999.9, 512);
    EXPECT_EQ(processor.sampleRate, 47999);

    // 96000.7 counts as 96000: the pending model is taken over and plays from a clean state.
    processor.prepareToPlay(96000.7, 512);
    EXPECT_EQ(processor.sampleRate, 96000);
    reference::Path path;
    path.rate = 96000;
    path.loudness = reference::loudnessGain(-4.0f);
    auto linear = std::make_shared<reference::LinearModel>();
    linear->w = linearTaps;
    path.model = [linear](float x) { return linear->step(x); };
    takeGains(path, processor);
    const auto x = signal(700, 0.02f);
    EXPECT_TRUE(near(channel(run(processor, x), 0), path.process(x)));
    EXPECT_EQ(processor.modelSource->ActiveModel.load(), pending);
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
}

TEST_F(AudioPath, MonoOutputLeavesASecondChannelAlone)
{
    writeFolder("Lin", "", 1, { { 0, linearModelFile(linearTaps, -10.0) } });
    CorvaneAudioProcessor processor;
    const auto mono = juce::AudioChannelSet::mono();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(mono);
    layout.outputBuses.add(mono);
    ASSERT_TRUE(processor.setBusesLayout(layout));

    for (const double rate : { 48000.0, 44100.0 })
    {
        processor.prepareToPlay(rate, 512);
        EXPECT_FALSE(processor.stereoOut);
        const auto out = run(processor, signal(300), 2, 0.7f);
        EXPECT_EQ(channel(out, 1), std::vector<float>(300, 0.7f)) << rate;
        EXPECT_EQ(allZero(channel(out, 0)), rate != 48000.0) << rate;
    }

    // A one-channel buffer works as well.
    processor.prepareToPlay(48000.0, 512);
    const auto out = run(processor, signal(300), 1);
    EXPECT_FALSE(allZero(channel(out, 0)));
}

TEST_F(AudioPath, StereoInputChannelOneIsReplacedByTheOutput)
{
    writeFolder("Lin", "BassCut=true\n", 1, { { 0, linearModelFile(linearTaps, -10.0) } });
    const auto stereo = juce::AudioChannelSet::stereo();
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add(stereo);
    layout.outputBuses.add(stereo);

    std::vector<std::vector<float>> left;
    for (const float other : { 0.0f, 0.9f })
    {
        CorvaneAudioProcessor processor;
        ASSERT_TRUE(processor.setBusesLayout(layout));
        processor.prepareToPlay(48000.0, 512);
        setParameter(processor, "GainOut", 0.5f);
        const auto out = run(processor, signal(800), 2, other);
        EXPECT_EQ(channel(out, 1), channel(out, 0)); // output gain included
        left.push_back(channel(out, 0));
    }
    EXPECT_EQ(left[0], left[1]); // input channel 1 is never read
}

// A switch to the host's bypass goes on from the input that the processed blocks had: the
// bypassed output is the input stream late by the latency, without a gap, each input channel its
// own, and a mono input fills both outputs. After a reset the delay starts from silence.
TEST_F(AudioPath, BypassContinuesTheInputLateByTheLatency)
{
    writeFolder("Lin", "", 1, { { 0, linearModelFile(linearTaps, -10.0) } });
    const auto x = signal(1000);
    auto bypassed = [](CorvaneAudioProcessor& processor, const std::vector<float>& input, float channel1) {
        juce::AudioBuffer<float> buffer(2, static_cast<int>(input.size()));
        for (int i = 0; i < buffer.getNumSamples(); ++i)
        {
            buffer.setSample(0, i, input[static_cast<size_t>(i)]);
            buffer.setSample(1, i, channel1);
        }
        juce::MidiBuffer midi;
        processor.processBlockBypassed(buffer, midi);
        return buffer;
    };
    for (const double rate : { 48000.0, 96000.0 })
    {
        SCOPED_TRACE(rate);
        const size_t latency = rate == 96000.0 ? 42 : 0;
        CorvaneAudioProcessor processor;
        processor.prepareToPlay(rate, 1024);
        run(processor, slice(x, 0, 600), 2, 0.25f);
        auto out = bypassed(processor, slice(x, 600, 400), 0.25f);
        EXPECT_EQ(channel(out, 0), slice(x, 600 - latency, 400));
        EXPECT_EQ(channel(out, 1), std::vector<float>(400, 0.25f));

        processor.reset();
        out = bypassed(processor, slice(x, 0, 300), 0.0f);
        auto expected = slice(x, 0, 300 - latency);
        expected.insert(expected.begin(), latency, 0.0f);
        EXPECT_EQ(channel(out, 0), expected);

        juce::AudioProcessor::BusesLayout monoIn;
        monoIn.inputBuses.add(juce::AudioChannelSet::mono());
        monoIn.outputBuses.add(juce::AudioChannelSet::stereo());
        ASSERT_TRUE(processor.setBusesLayout(monoIn));
        processor.prepareToPlay(rate, 1024);
        out = bypassed(processor, slice(x, 0, 300), 0.7f);
        EXPECT_EQ(channel(out, 0), expected);
        EXPECT_EQ(channel(out, 1), expected);
    }
}

} // namespace
