#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "alloc_counter.h"
#include "core/convnet.h"
#include "core_test_util.h"

using core_test::load_error;
using core_test::record;
using core_test::run_blocks;
using nlohmann::json;

namespace
{
const char* count_message = "Didn't touch all the weights when initializing ConvNet";

json config(int channels, bool batchnorm, std::vector<int> dilations, const std::string& activation = "Tanh")
{
    return {{"channels", channels}, {"batchnorm", batchnorm}, {"dilations", dilations}, {"activation", activation}};
}

size_t weight_count(size_t channels, bool batchnorm, size_t blocks)
{
    return 2 * channels + (blocks - 1) * 2 * channels * channels + blocks * (batchnorm ? 4 * channels + 1 : channels)
           + channels + 1;
}

std::unique_ptr<kep::DSP> convnet(const json& cfg, std::vector<float> weights)
{
    kep::dspData data = record("ConvNet", cfg, std::move(weights));
    return kep::get_dsp(data);
}

kep::convnet::ConvNet& as_convnet(kep::DSP& model) { return dynamic_cast<kep::convnet::ConvNet&>(model); }

// Weights in [-0.5, 0.5); batch-norm variances are made positive by the reference reader below.
std::vector<float> random_weights(size_t count, unsigned seed)
{
    return testing_support::uniform_values(count, seed, -0.5f, 0.5f);
}

std::vector<float> random_signal(size_t count, unsigned seed)
{
    return testing_support::uniform_values(count, seed, -1.0f, 1.0f);
}

// A plain, sample-by-sample ConvNet that reads the weights in file order. Every stage reads as
// 0 before the first sample of the input, as a fresh model's stage matrices do.
std::vector<float> reference(int channels, bool batchnorm, const std::vector<int>& dilations,
                             const std::function<float(float)>& activation, const std::vector<float>& weights,
                             const std::vector<float>& input)
{
    const size_t c = static_cast<size_t>(channels), length = input.size();
    size_t w = 0;
    std::vector<std::vector<float>> signal{input}; // signal[channel][time]
    for (size_t b = 0; b < dilations.size(); b++)
    {
        const size_t in_channels = signal.size();
        const long d = dilations[b];
        std::vector<std::vector<std::vector<float>>> taps(2, std::vector<std::vector<float>>(c, std::vector<float>(in_channels)));
        for (size_t o = 0; o < c; o++)
            for (size_t i = 0; i < in_channels; i++)
                for (size_t k = 0; k < 2; k++)
                    taps[k][o][i] = weights[w++];
        std::vector<float> scale(c, 1.0f), shift(c, 0.0f);
        if (!batchnorm)
            for (size_t o = 0; o < c; o++)
                shift[o] = weights[w++];
        else
        {
            const size_t means = w, variances = w + c, gains = w + 2 * c, biases = w + 3 * c;
            const float epsilon = weights[w + 4 * c];
            w += 4 * c + 1;
            for (size_t o = 0; o < c; o++)
            {
                const float v = weights[variances + o];
                scale[o] = weights[gains + o] / std::sqrt(v + epsilon);
                shift[o] = weights[biases + o] - scale[o] * weights[means + o];
            }
        }
        std::vector<std::vector<float>> next(c, std::vector<float>(length));
        for (size_t o = 0; o < c; o++)
            for (size_t t = 0; t < length; t++)
            {
                float sum = 0.0f;
                for (size_t i = 0; i < in_channels; i++)
                {
                    const float before = static_cast<long>(t) - d >= 0 ? signal[i][t - static_cast<size_t>(d)] : 0.0f;
                    sum += taps[1][o][i] * signal[i][t] + taps[0][o][i] * before;
                }
                next[o][t] = activation(batchnorm ? sum * scale[o] + shift[o] : sum + shift[o]);
            }
        signal = std::move(next);
    }
    std::vector<float> output(length, 0.0f);
    for (size_t t = 0; t < length; t++)
    {
        float sum = weights[w + c];
        for (size_t o = 0; o < c; o++)
            sum += weights[w + o] * signal[o][t];
        output[t] = sum;
    }
    return output;
}

void expect_close(const std::vector<float>& actual, const std::vector<float>& expected, size_t skip = 0)
{
    ASSERT_EQ(actual.size() + skip, expected.size());
    for (size_t t = 0; t < actual.size(); t++)
        ASSERT_NEAR(actual[t], expected[t + skip], 2e-5f + 2e-5f * std::fabs(expected[t + skip])) << "sample " << t;
}

// Batch-norm weights with positive variances and a positive epsilon.
std::vector<float> batchnorm_weights(int channels, const std::vector<int>& dilations, unsigned seed)
{
    auto weights = random_weights(weight_count(static_cast<size_t>(channels), true, dilations.size()), seed);
    const size_t c = static_cast<size_t>(channels);
    size_t w = 0;
    for (size_t b = 0; b < dilations.size(); b++)
    {
        w += 2 * c * (b == 0 ? 1 : c);
        for (size_t o = 0; o < c; o++)
            weights[w + c + o] = std::fabs(weights[w + c + o]) + 0.1f;
        weights[w + 4 * c] = 1e-3f;
        w += 4 * c + 1;
    }
    return weights;
}

const auto tanh_function = [](float x) { return tanhf(x); };
} // namespace

// --- Weight counts and messages ---------------------------------------------------------------

TEST(ConvNetWeights, CountsFollowChannelsBlocksAndBatchnorm)
{
    const std::vector<int> dilations{1, 2, 4, 8};
    EXPECT_EQ(weight_count(16, false, 4), 1649u);
    EXPECT_EQ(weight_count(16, true, 4), 1845u);
    for (bool batchnorm : {false, true})
    {
        const size_t needed = weight_count(16, batchnorm, 4);
        auto model = convnet(config(16, batchnorm, dilations), std::vector<float>(needed, 0.125f));
        auto& net = as_convnet(*model);
        EXPECT_EQ(net.receptive_field, 8);
        EXPECT_EQ(net.PrewarmSamples(), 16);
        ASSERT_EQ(net.blocks.size(), 4u);
        EXPECT_EQ(net.blocks[1].conv.bias.size(), batchnorm ? 0 : 16);
        EXPECT_EQ(net.blocks[1].batchnorm_scale.size(), batchnorm ? 16 : 0);
        EXPECT_EQ(net.stage_signals.size(), 5u);

        EXPECT_EQ(load_error(record("ConvNet", config(16, batchnorm, dilations), std::vector<float>(needed + 1))),
                  count_message);
        EXPECT_EQ(load_error(record("ConvNet", config(16, batchnorm, dilations), std::vector<float>(needed - 1))),
                  count_message);
    }
    EXPECT_EQ(load_error(record("ConvNet", config(2, false, {1}), {})), count_message);
}

TEST(ConvNetWeights, TapsAreFilledOutputThenInputThenTap)
{
    // Two blocks of 2 channels: block 1's taps are (o0,i0,t0), (o0,i0,t1), (o0,i1,t0), ...
    std::vector<float> weights(weight_count(2, false, 2));
    for (size_t i = 0; i < weights.size(); i++)
        weights[i] = static_cast<float>(i);
    auto model = convnet(config(2, false, {1, 3}), weights);
    auto& net = as_convnet(*model);
    const auto& first = net.blocks[0].conv;
    EXPECT_EQ(first.taps[0](0, 0), 0.0f);
    EXPECT_EQ(first.taps[1](0, 0), 1.0f);
    EXPECT_EQ(first.taps[0](1, 0), 2.0f);
    EXPECT_EQ(first.bias(1), 5.0f);
    const auto& second = net.blocks[1].conv;
    EXPECT_EQ(second.dilation, 3);
    EXPECT_EQ(second.taps[1](0, 0), 7.0f);
    EXPECT_EQ(second.taps[0](0, 1), 8.0f);
    EXPECT_EQ(second.taps[0](1, 0), 10.0f);
    EXPECT_EQ(second.bias(0), 14.0f);
    EXPECT_EQ(net.head_weight(1), 17.0f);
    EXPECT_EQ(net.head_bias, 18.0f);
}

// --- Worked examples --------------------------------------------------------------------------

TEST(ConvNetExamples, OneReluBlock)
{
    const float t0 = -0.5f, t1 = 2.0f, c = 0.25f, w = 1.5f, h = -0.125f;
    auto model = convnet(config(1, false, {1}, "ReLU"), {t0, t1, c, w, h});
    const std::vector<float> x{1.0f, -1.0f, 0.5f, 0.0f, -0.25f, 3.0f};
    const auto y = run_blocks(*model, x, {2, 1, 3});
    for (size_t j = 0; j < x.size(); j++)
    {
        const float before = j == 0 ? 0.0f : x[j - 1];
        EXPECT_FLOAT_EQ(y[j], w * std::max(0.0f, t1 * x[j] + t0 * before + c) + h) << j;
    }
}

TEST(ConvNetExamples, BatchnormIsFoldedIntoScaleAndShift)
{
    // One channel, taps (0, 1): the convolution output is the input itself.
    const float m = 0.5f, v = 3.0f, g = 2.0f, b = -1.0f, e = 1.0f;
    auto model = convnet(config(1, true, {1}, "Hardtanh"), {0.0f, 1.0f, m, v, g, b, e, 1.0f, 0.0f});
    auto& block = as_convnet(*model).blocks[0];
    ASSERT_TRUE(block.batchnorm);
    EXPECT_FLOAT_EQ(block.batchnorm_scale(0), 1.0f);  // 2 / sqrt(3 + 1)
    EXPECT_FLOAT_EQ(block.batchnorm_shift(0), -1.5f); // -1 - 1 * 0.5
    EXPECT_EQ(run_blocks(*model, {0.0f, 0.75f, 2.0f, 3.0f}, {4}), (std::vector<float>{-1.0f, -0.75f, 0.5f, 1.0f}));
}

TEST(ConvNetRefusals, BatchnormThatCannotBeFiniteIsRefusedAtSetUp)
{
    // Two channels and two blocks; channel 1 of the last block holds the values under test.
    const auto message = [](float mean, float variance, float gain, float bias, float epsilon)
    {
        std::vector<float> w{1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 1e-5f};
        const std::vector<float> block1{0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, mean, 1.0f, variance,
                                        1.0f, gain, 0.0f, bias, epsilon, 1.0f, 1.0f, 0.0f};
        w.insert(w.end(), block1.begin(), block1.end());
        return load_error(record("ConvNet", config(2, true, {1, 2}), w));
    };
    const std::string where = "Invalid ConvNet: the batch normalisation of block 1, channel 1 has ";
    EXPECT_EQ(message(0.0f, 0.0f, 1.0f, 0.0f, 0.0f).rfind(where + "a scale of inf and a shift of ", 0), 0u);
    EXPECT_EQ(message(0.0f, 0.5f, 1.0f, 0.0f, -0.5f).rfind(where + "a scale of inf", 0), 0u);
    EXPECT_EQ(message(0.0f, -1.0f, 1.0f, 0.0f, 0.5f).rfind(where, 0), 0u); // the square root of a negative
    EXPECT_EQ(message(0.0f, 0.0f, 0.0f, 0.0f, 0.0f).rfind(where, 0), 0u);  // 0 / 0
    EXPECT_EQ(message(0.0f, 1e-30f, 3e38f, 0.0f, 0.0f).rfind(where + "a scale of inf", 0), 0u);
    EXPECT_EQ(message(3e38f, 1.0f, 3e38f, 0.0f, 0.0f), where + "a scale of 3e+38 and a shift of -inf: variance + "
                                                        "epsilon must be positive, and weight / sqrt(variance + "
                                                        "epsilon) and bias - scale x mean finite");
    // A variance + epsilon that overflows to infinity gives a scale of 0: the channel puts out its shift (0 here).
    std::vector<float> w{1.0f, 0.0f, 0.0f, 3e38f, 1.0f, 0.0f, 3e38f, 1.0f, 0.0f};
    auto model = convnet(config(1, true, {1}), w);
    EXPECT_EQ(as_convnet(*model).blocks[0].batchnorm_scale(0), 0.0f);
}

TEST(ConvNetExamples, ZeroChannelsGiveTheHeadBiasAndDilationZeroReadsOnlyTheCurrentSample)
{
    EXPECT_EQ(run_blocks(*convnet(config(0, false, {1, 2}), {0.75f}), {1.0f, -2.0f, 3.0f}, {3}),
              std::vector<float>(3, 0.75f));
    // Dilation 0: both taps read the current sample, so the output is (t0 + t1) * x + c.
    auto model = convnet(config(1, false, {0}, "LeakyReLU"), {0.5f, 1.5f, 0.0f, 1.0f, 0.0f});
    EXPECT_EQ(model->PrewarmSamples(), 1);
    EXPECT_EQ(run_blocks(*model, {1.0f, -1.0f, 0.5f}, {1}), (std::vector<float>{2.0f, -0.02f, 1.0f}));
}

// --- Warm-up and buffers ----------------------------------------------------------------------

TEST(ConvNetWarmUp, LengthAndBufferSizes)
{
    auto model = convnet(config(2, false, {4, 2, 4}), std::vector<float>(weight_count(2, false, 3), 0.0f));
    auto& net = as_convnet(*model);
    EXPECT_EQ(net.receptive_field, 4);
    EXPECT_EQ(net.PrewarmSamples(), 11);
    // One warm-up call of 512 samples sized the history for such blocks: 4 + 32 * 512 -> 32768.
    EXPECT_EQ(net.input_buffer.size(), 32768u);
    EXPECT_EQ(net.input_buffer_offset, 4 + 512);
    for (size_t k = 0; k < net.stage_signals.size(); k++)
    {
        EXPECT_EQ(net.stage_signals[k].rows(), k == 0 ? 1 : 2);
        EXPECT_EQ(net.stage_signals[k].cols(), 32768);
    }
    EXPECT_GE(net.head_result.size(), 512);

    // A block of 0 samples writes nothing and leaves the offset.
    float in = 1.0f, out = 42.0f;
    net.process(&in, &out, 0);
    EXPECT_EQ(out, 42.0f);
    EXPECT_EQ(net.input_buffer_offset, 4 + 512);
}

// --- Streaming ----------------------------------------------------------------------------------

TEST(ConvNetStreaming, BlocksOfAnyLengthMatchAPlainReferenceAcrossRewinds)
{
    const std::vector<int> dilations{1, 0, 4, 2};
    const int channels = 3;
    const auto input = random_signal(40000, 7);
    std::vector<float> padded(512, 0.0f); // the warm-up's silence
    padded.insert(padded.end(), input.begin(), input.end());
    for (bool batchnorm : {false, true})
    {
        const auto weights = batchnorm ? batchnorm_weights(channels, dilations, 3)
                                       : random_weights(weight_count(channels, false, dilations.size()), 3);
        const auto expected = reference(channels, batchnorm, dilations, tanh_function, weights, padded);
        // Blocks of 64 rewind every 511 blocks; the mixed schedule rewinds at varying offsets.
        for (const std::vector<int>& lengths : {std::vector<int>{64}, {256, 256, 232, 1, 17, 512}, {3, 1}})
        {
            auto model = convnet(config(channels, batchnorm, dilations), weights);
            SCOPED_TRACE(::testing::Message() << "batchnorm " << batchnorm << ", first length " << lengths[0]);
            expect_close(run_blocks(*model, input, lengths), expected, 512);
        }
    }
}

TEST(ConvNetStreaming, GrowthClearsHistoryAndEveryStage)
{
    const std::vector<int> dilations{1, 8, 2};
    const int channels = 2;
    const auto weights = random_weights(weight_count(channels, false, dilations.size()), 11);
    auto model = convnet(config(channels, false, dilations), weights);
    auto& net = as_convnet(*model);
    ASSERT_EQ(net.input_buffer.size(), 32768u);

    // 8 + 32 * 1023 still fits: the stream goes on.
    const auto first = random_signal(3000 + 1023, 5);
    std::vector<float> padded(512, 0.0f);
    padded.insert(padded.end(), first.begin(), first.end());
    const auto continued = reference(channels, false, dilations, tanh_function, weights, padded);
    expect_close(run_blocks(*model, first, {100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                            100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100, 100,
                                            100, 100, 100, 100, 1023}),
                 continued, 512);
    ASSERT_EQ(net.input_buffer.size(), 32768u);

    // 8 + 32 * 1024 does not: the history and all stages restart from zeros.
    const auto second = random_signal(1024 + 700, 6);
    const auto restarted = reference(channels, false, dilations, tanh_function, weights, second);
    expect_close(run_blocks(*model, second, {1024, 700}), restarted);
    EXPECT_EQ(net.input_buffer.size(), 65536u);
    for (const auto& stage : net.stage_signals)
        EXPECT_EQ(stage.cols(), 65536);
}

// --- Refusals -----------------------------------------------------------------------------------

TEST(ConvNetRefusals, MalformedConfigsAreRefusedAtLoad)
{
    const std::vector<float> weights(weight_count(2, false, 2), 0.0f);
    const auto refuses = [&](const json& cfg, const std::string& words)
    {
        const std::string message = load_error(record("ConvNet", cfg, weights));
        EXPECT_NE(message.find(words), std::string::npos) << message;
    };
    refuses(config(2, false, {1, 2}, "tanh"), "activation \"tanh\"");
    refuses(config(2, false, {1, 2}, "HardTanh"), "activation");
    refuses(config(2, false, {}), "\"dilations\" must not be empty");
    refuses(config(2, false, {1, -2}), "dilation must not be negative");
    refuses(config(-2, false, {1, 2}), "\"channels\" must not be negative");
    refuses(config(1, false, {2000000000, 2000000000}), "dilations are too large");
    refuses(config(0, false, std::vector<int>(1100, 1000000)), "dilations are too large");
    // Absurd sizes fail the 64-bit weight count before anything is sized.
    EXPECT_EQ(load_error(record("ConvNet", config(2147483647, true, {1, 2, 3}), weights)), count_message);
    EXPECT_EQ(load_error(record("ConvNet", config(65536, false, std::vector<int>(100000, 1)), weights)),
              count_message);
    // Missing keys are the JSON library's type errors.
    EXPECT_TRUE(core_test::ends_with(load_error(record("ConvNet", {{"channels", 2}}, weights)),
                                     "type must be boolean, but is null"));
}

// --- Real time ----------------------------------------------------------------------------------

TEST(ConvNetRealTime, ProcessAllocatesNothingForBlocksUpTo512)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    const std::vector<int> dilations{1, 2, 4, 8, 16, 32, 64, 128};
    auto model = convnet(config(16, true, dilations), batchnorm_weights(16, dilations, 2));
    const auto input = random_signal(512, 9);
    std::vector<float> output(512);
    const std::vector<int> lengths{256, 256, 232, 1, 17, 512};
    alloc_counter::Scope scope;
    // 600 blocks pass several rewinds of the 32768-sample history.
    for (int i = 0; i < 600; i++)
    {
        const int n = lengths[static_cast<size_t>(i) % lengths.size()];
        model->process(const_cast<float*>(input.data()), output.data(), n);
    }
    EXPECT_EQ(scope.counts().allocations, 0u);
    EXPECT_EQ(scope.counts().deallocations, 0u);
}
