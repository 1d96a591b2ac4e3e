#pragma once

// Helpers for the processor-level audio tests: a plain, stream-wise reference of the audio path
// written from the algorithm (its own copy of the resampling taps and the peak-filter formulas,
// nothing from the plug-in's DSP code), model files written by the test, a recording model that
// can be handed to the processor directly, and small buffer helpers.

#include <array>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "core/dsp.h"
#include "plugin/PluginProcessor.h"
#include "plugin_test_util.h"

namespace reference
{

// The 2:1 low-pass, tap k multiplying the sample k steps back.
inline constexpr std::array<float, 43> taps = {
    0.0018747783f,   0.0038605744f,   0.0013378822f,   -0.0037635928f,  -0.0043364814f, 0.0034620897f,
    0.008369121f,    -0.00021748862f, -0.012495928f,   -0.0065313363f,  0.014301798f,   0.017168157f,
    -0.011204941f,   -0.030668348f,   -0.00035947826f, 0.045248367f,    0.025666162f,   -0.058348253f,
    -0.080681026f,   0.06747929f,     0.30935758f,     0.42925486f,     0.30935758f,    0.06747929f,
    -0.080681026f,   -0.058348253f,   0.025666162f,    0.045248367f,    -0.00035947826f, -0.030668348f,
    -0.011204941f,   0.017168157f,    0.014301798f,    -0.0065313363f,  -0.012495928f,  -0.00021748862f,
    0.008369121f,    0.0034620897f,   -0.0043364814f,  -0.0037635928f,  0.0013378822f,  0.0038605744f,
    0.0018747783f,
};

inline float dbToGain(float db) { return std::pow(10.0f, db * 0.05f); }
inline float parameterGain(float v) { return dbToGain(static_cast<float>(static_cast<double>(v) * 60.0 - 40.0)); }
inline float loudnessGain(float loudness) { return std::pow(10.0f, (-10.0f - loudness) * 0.05f); }

struct Peak
{
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float x1 = 0, x2 = 0, y1 = 0, y2 = 0;

    // A peak (bell) filter at 120 Hz, Q 0.5, for 48 kHz.
    static Peak at120Hz(float gainDb)
    {
        const float period = 1.0f / 48000.0f;
        const float q = 0.5f;
        const float v = std::pow(10.0f, std::fabs(gainDb) / 20.0f);
        const float k = std::tan(static_cast<float>(120.0 * 3.14159265358979323846 * static_cast<double>(period)));
        Peak p;
        if (gainDb >= 0)
        {
            const float n = 1.0f / (1.0f + k / q + k * k);
            p.b0 = (1.0f + v * k / q + k * k) * n;
            p.b2 = (1.0f - v * k / q + k * k) * n;
            p.a2 = (1.0f - k / q + k * k) * n;
            p.b1 = p.a1 = 2.0f * (k * k - 1.0f) * n;
        }
        else
        {
            const float n = 1.0f / (1.0f + v * k / q + k * k);
            p.b0 = (1.0f + k / q + k * k) * n;
            p.b2 = (1.0f - k / q + k * k) * n;
            p.a2 = (1.0f - v * k / q + k * k) * n;
            p.b1 = p.a1 = 2.0f * (k * k - 1.0f) * n;
        }
        return p;
    }

    float step(float x)
    {
        const float y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y;
        return y;
    }
};

// A causal FIR model: out = bias + sum w[j] * in[t - j], with silence before the first sample.
struct LinearModel
{
    std::vector<float> w;
    float bias = 0.0f;
    std::vector<float> history;

    float step(float x)
    {
        history.push_back(x);
        float sum = bias;
        const size_t n = history.size();
        for (size_t j = 0; j < w.size() && j < n; ++j)
            sum += w[j] * history[n - 1 - j];
        return sum;
    }
};

struct Tones
{
    bool lowpass = false;
    bool bassBoost = false;
    bool bassCut = false;
};

// The audio path as one continuous stream: chunking never matters here, and at 96 kHz the model
// sees the filtered samples at even positions of the whole host-rate stream.
class Path
{
public:
    // model: one model-rate sample in, one out.
    std::function<float(float)> model;
    float loudness = 1.0f; // linear loudness gain of the model
    Tones tones;
    float gainAdjustDb = 0.0f;
    float gainIn = 1.0f;
    float gainOut = 1.0f;
    int rate = 48000;
    float lastLevel = 0.0f;

    std::vector<float> process(std::vector<float> x)
    {
        const size_t n = x.size();
        float sum = 0.0f;
        for (auto& s : x)
        {
            s *= gainIn;
            sum += s * s;
        }
        lastLevel = n == 0 ? 0.0f : std::sqrt(sum / static_cast<float>(n));
        const float second = gainIn * dbToGain(gainAdjustDb);
        for (auto& s : x)
            s *= second;
        if ((rate != 48000 && rate != 96000) || !model)
            return std::vector<float>(n, 0.0f);

        for (auto& s : x)
        {
            if (rate == 48000)
                s = post(model(s));
            else
            {
                decimIn_.push_back(s);
                const size_t t = decimIn_.size() - 1;
                float z = 0.0f;
                if (t % 2 == 0)
                    z = 2.0f * post(model(fir(decimIn_)));
                interpIn_.push_back(z);
                s = fir(interpIn_);
            }
        }
        for (auto& s : x)
            s *= gainOut;
        return x;
    }

    float lowpassLast = 0.0f;
    float dcMean = 0.0f;

private:
    static float fir(const std::vector<float>& stream)
    {
        float sum = 0.0f;
        const size_t newest = stream.size() - 1;
        for (size_t k = 0; k < taps.size() && k <= newest; ++k)
            sum += taps[k] * stream[newest - k];
        return sum;
    }

    float post(float y)
    {
        y *= loudness;
        if (tones.lowpass)
        {
            y = (y == 0.0f && std::abs(lowpassLast) < 1e-7f) ? 0.0f : 0.618034f * y + 0.381966f * lowpassLast;
            lowpassLast = y;
        }
        if (tones.bassBoost)
            y = boost_.step(y);
        if (tones.bassCut)
            y = cut_.step(y);
        if (y == 0.0f && std::abs(dcMean) < 1e-6f)
            return 0.0f;
        dcMean = 0.99477744f * dcMean + 0.005222559f * y;
        return y - dcMean;
    }

    Peak boost_ = Peak::at120Hz(3.0f);
    Peak cut_ = Peak::at120Hz(-3.0f);
    std::vector<float> decimIn_;
    std::vector<float> interpIn_;
};

} // namespace reference

namespace proc_testing
{

// A Linear model file: weights from the current sample backwards, then the bias when given.
inline juce::String linearModelFile(const std::vector<float>& weights, double loudness, bool bias = false,
                                    float biasValue = 0.0f)
{
    juce::String w;
    for (auto v : weights)
        w << (w.isEmpty() ? "" : ", ") << juce::String(v, 9);
    if (bias)
        w << ", " << juce::String(biasValue, 9);
    return juce::String(R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": )")
           + juce::String(static_cast<int>(weights.size())) + ", \"bias\": " + (bias ? "true" : "false")
           + "}, \"weights\": [" + w + "], \"metadata\": {\"loudness\": " + juce::String(loudness, 6)
           + "}, \"sample_rate\": 48000}";
}

// A model that records the length of each call and its input, multiplies by `scale`, and can be
// told to throw at a given call. Reserves its records up front so that it allocates nothing
// while it runs (up to the reserved sizes).
class RecordingModel : public kep::DSP
{
public:
    explicit RecordingModel(float scale_ = 1.0f) : DSP(48000.0), scale(scale_)
    {
        calls.reserve(4096);
        inputs.reserve(1 << 18);
    }

    void process(float* input, float* output, int n) override
    {
        const int call = static_cast<int>(calls.size());
        calls.push_back(n);
        if (call == throwAtCall)
            throw std::runtime_error("model failure");
        inputs.insert(inputs.end(), input, input + n);
        for (int i = 0; i < n; ++i)
            output[i] = input[i] * scale;
    }

    float scale;
    int throwAtCall = -1;
    std::vector<int> calls;
    std::vector<float> inputs;
};

inline void setParameter(CorvaneAudioProcessor& processor, const char* id, float value)
{
    processor.valueTreeState.getParameter(id)->setValueNotifyingHost(value);
}

// The parameter's current value (its range is 0..1, so this is also the normalised value). The
// parameter object holds it unsnapped: exactly 0.666667f at the default.
inline float parameterValue(CorvaneAudioProcessor& processor, const char* id)
{
    auto* parameter = dynamic_cast<juce::AudioParameterFloat*>(processor.valueTreeState.getParameter(id));
    return parameter != nullptr ? parameter->get() : -1.0f;
}

// Gains of the reference path set from the processor's current parameter values.
inline void takeGains(reference::Path& path, CorvaneAudioProcessor& processor)
{
    path.gainIn = reference::parameterGain(parameterValue(processor, "GainIn"));
    path.gainOut = reference::parameterGain(parameterValue(processor, "GainOut"));
}

// A test signal: a few sines and a step, deterministic.
inline std::vector<float> signal(size_t n, float amplitude = 0.3f, size_t offset = 0)
{
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i)
    {
        const double t = static_cast<double>(i + offset);
        x[i] = amplitude
               * static_cast<float>(0.6 * std::sin(t * 0.031) + 0.3 * std::sin(t * 0.37 + 1.0)
                                    + 0.1 * std::sin(t * 2.1) + ((i + offset) % 700 < 350 ? 0.05 : -0.05));
    }
    return x;
}

// Runs one block of mono input through the processor with `channels` buffer channels (channel 1,
// when present, is filled with `channel1`). Returns the buffer.
inline juce::AudioBuffer<float> run(CorvaneAudioProcessor& processor, const std::vector<float>& input,
                                    int channels = 2, float channel1 = 0.0f)
{
    juce::AudioBuffer<float> buffer(channels, static_cast<int>(input.size()));
    for (int i = 0; i < static_cast<int>(input.size()); ++i)
    {
        buffer.setSample(0, i, input[static_cast<size_t>(i)]);
        for (int ch = 1; ch < channels; ++ch)
            buffer.setSample(ch, i, channel1);
    }
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);
    return buffer;
}

inline std::vector<float> channel(const juce::AudioBuffer<float>& buffer, int ch)
{
    const float* p = buffer.getReadPointer(ch);
    return std::vector<float>(p, p + buffer.getNumSamples());
}

// Compares with a tolerance relative to the signal's size; reports the first mismatch only.
inline ::testing::AssertionResult near(const std::vector<float>& actual, const std::vector<float>& expected,
                                       float tolerance = 2e-6f)
{
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "sizes " << actual.size() << " vs " << expected.size();
    for (size_t i = 0; i < actual.size(); ++i)
    {
        const float bound = tolerance * std::max(1.0f, std::fabs(expected[i]));
        if (!(std::fabs(actual[i] - expected[i]) <= bound))
            return ::testing::AssertionFailure() << "sample " << i << ": " << actual[i] << " vs " << expected[i];
    }
    return ::testing::AssertionSuccess();
}

inline bool allZero(const std::vector<float>& x)
{
    for (auto v : x)
        if (v != 0.0f)
            return false;
    return true;
}

inline std::vector<float> slice(const std::vector<float>& x, size_t from, size_t count)
{
    return std::vector<float>(x.begin() + static_cast<std::ptrdiff_t>(from),
                              x.begin() + static_cast<std::ptrdiff_t>(from + count));
}

} // namespace proc_testing

namespace proc_testing
{

// A fresh home with helpers to write model folders of the test's own.
class CatalogueHome : public plugin_testing::FreshHome
{
protected:
    // Writes Models/<id>/ with the metadata lines given (ModelId=<id> is added first), a table of
    // `rows` snapshot rows, and one model file per entry of `models` (index -> file text).
    void writeFolder(const juce::String& id, const juce::String& metadata, int rows,
                     const std::vector<std::pair<int, juce::String>>& models, bool pictures = false)
    {
        writeResource("Models/" + id + "/metadata.txt", "ModelId=" + id + "\n" + metadata);
        juce::String table = "Setting,Value\n";
        for (int row = 0; row < rows; ++row)
            table << "Row" << row << "," << row << "\n";
        writeResource("Models/" + id + "/settings.txt", table);
        for (const auto& [index, text] : models)
            writeResource("Models/" + id + "/models/" + juce::String(index).paddedLeft('0', 3) + ".kep", text);
        if (pictures)
            for (int row = 0; row < rows; ++row)
                writePicture(id, juce::String(row).paddedLeft('0', 3), row + 2);
    }

    // A PNG of width `width` under the name <stem>.jpg (decoded by content).
    void writePicture(const juce::String& id, const juce::String& stem, int width)
    {
        juce::Image image(juce::Image::RGB, width, 2, true);
        juce::MemoryOutputStream data;
        juce::PNGImageFormat().writeImageToStream(image, data);
        const auto file = modelsDir().getChildFile(id + "/images/" + stem + ".jpg");
        file.getParentDirectory().createDirectory();
        file.replaceWithData(data.getData(), data.getDataSize());
    }

    // Makes `id` (snapshot `index`) the choice that a new processor starts with.
    static void startWith(const juce::String& id, int index)
    {
        PluginSettings::Update([&](PluginSettings& s) {
            s.LastSelectedModelId = id;
            s.LastSelectedModelIdx = index;
        });
    }
};

} // namespace proc_testing
