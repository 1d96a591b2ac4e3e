#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "alloc_counter.h"
#include "core/wavenet.h"
#include "core_test_util.h"
#include "wavenet_reference.h"

using core_test::record;
using core_test::run_blocks;
using wavenet_reference::ArraySpec;

namespace
{

// Two arrays: a gated one whose rows take the fixed-size mixing path and a plain one whose odd
// channel count takes the general path; the receptive fields differ (19 and 33).
const std::vector<ArraySpec> mixed_model{
    {1, 1, 3, 4, 3, {1, 2, 4, 2}, "Tanh", true, false},
    {4, 1, 1, 3, 2, {1, 4, 16, 8, 2}, "Hardtanh", false, true},
};

std::vector<float> test_signal(size_t length)
{
    std::vector<float> x(length);
    for (size_t i = 0; i < length; i++)
        x[i] = 0.6f * std::sin(0.013f * static_cast<float>(i)) + 0.3f * std::sin(0.29f * static_cast<float>(i) + 1.0f);
    return x;
}

// Output of the plain reference for input, after the factory's warm-up of whole 512-sample chunks.
std::vector<float> expected_output(const std::vector<ArraySpec>& arrays, const std::vector<float>& weights,
                                   const std::vector<float>& input)
{
    const size_t warm = (static_cast<size_t>(wavenet_reference::prewarm_samples(arrays)) + 511) / 512 * 512;
    std::vector<float> signal(warm, 0.0f);
    signal.insert(signal.end(), input.begin(), input.end());
    const auto out = wavenet_reference::run(arrays, weights, signal);
    return std::vector<float>(out.begin() + static_cast<long>(warm), out.end());
}

std::unique_ptr<kep::DSP> load(const std::vector<ArraySpec>& arrays, const std::vector<float>& weights)
{
    kep::dspData data = record("WaveNet", wavenet_reference::config(arrays), weights);
    return kep::get_dsp(data);
}

void expect_close(const std::vector<float>& actual, const std::vector<float>& expected, const char* what)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t t = 0; t < actual.size(); t++)
        ASSERT_NEAR(actual[t], expected[t], 2e-4f * (1.0f + std::fabs(expected[t]))) << what << " at sample " << t;
}

} // namespace

TEST(WaveNetStreaming, MatchesAPlainReferenceAcrossRewindsAndBlockLengths)
{
    const auto weights = wavenet_reference::random_weights(wavenet_reference::weight_count(mixed_model), 11, 0.4f);
    // Longer than a layer buffer: every schedule rewinds at least once.
    const auto input = test_signal(70000);
    const auto expected = expected_output(mixed_model, weights, input);
    float peak = 0.0f;
    for (float y : expected)
        peak = std::max(peak, std::fabs(y));
    ASSERT_GT(peak, 0.05f); // the comparison is not between two silences

    expect_close(run_blocks(*load(mixed_model, weights), input, {256}), expected, "blocks of 256");
    expect_close(run_blocks(*load(mixed_model, weights), input, {256, 256, 232, 1, 17, 512}), expected, "mixed blocks");
    // Blocks longer than the warm-up's, up to the longest the buffers take.
    expect_close(run_blocks(*load(mixed_model, weights), input, {65536 - 33, 700, 3000}), expected, "long blocks");
    expect_close(run_blocks(*load(mixed_model, weights), input, {1, 2, 3, 5, 7, 11, 13, 1024}), expected, "odd blocks");
}

TEST(WaveNetStreaming, ARefusedBlockLengthLeavesTheModelAsItWas)
{
    const auto weights = wavenet_reference::random_weights(wavenet_reference::weight_count(mixed_model), 5, 0.4f);
    const auto input = test_signal(2000);
    const auto expected = expected_output(mixed_model, weights, input);

    auto model = load(mixed_model, weights);
    auto& wavenet = dynamic_cast<kep::wavenet::WaveNet&>(*model);
    std::vector<float> output(input.size());
    std::vector<float> in(input);
    model->process(in.data(), output.data(), 100);
    // 65510 fits the first array (field 19) but not the second (field 33).
    std::vector<float> huge(65510, 1.0f), huge_out(65510, 0.0f);
    EXPECT_THROW(model->process(huge.data(), huge_out.data(), 65510), std::runtime_error);
    EXPECT_EQ(wavenet.block_size, 100);
    EXPECT_EQ(huge_out[0], 0.0f);
    // The same length again, and then others, go on as if the refused block had never come.
    model->process(in.data() + 100, output.data() + 100, 100);
    EXPECT_THROW(model->process(huge.data(), huge_out.data(), 65510), std::runtime_error);
    model->process(in.data() + 200, output.data() + 200, 1800);
    expect_close(output, expected, "after a refused block");
}

TEST(WaveNetStreaming, ProcessAllocatesNothingAfterLoading)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    // The shape of a typical capture model, with fewer layers.
    const std::vector<ArraySpec> arrays{
        {1, 1, 8, 16, 3, {1, 2, 4, 8, 16}, "Tanh", false, false},
        {16, 1, 1, 8, 3, {1, 2, 4, 8, 16}, "Tanh", true, true},
    };
    auto model = load(arrays, wavenet_reference::random_weights(wavenet_reference::weight_count(arrays), 2, 0.2f));
    auto input = test_signal(70000);
    std::vector<float> output(input.size());
    const int lengths[] = {256, 256, 232, 1, 17, 512, 0, 128, 3};
    size_t pos = 0, which = 0;
    alloc_counter::Scope scope;
    // Passes a rewind of every layer buffer.
    while (pos + 512 <= input.size())
    {
        const int n = lengths[which++ % std::size(lengths)];
        model->process(input.data() + pos, output.data() + pos, n);
        pos += static_cast<size_t>(n);
    }
    EXPECT_EQ(scope.counts().allocations, 0u);
    EXPECT_EQ(scope.counts().deallocations, 0u);
}

TEST(LinearModel, ProcessAllocatesNothingAfterTheFirstBlock)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    kep::dspData data = record("Linear", {{"receptive_field", 64}, {"bias", true}}, std::vector<float>(65, 0.01f));
    auto model = kep::get_dsp(data);
    auto input = test_signal(40000);
    std::vector<float> output(input.size());
    model->process(input.data(), output.data(), 256); // grows the history once
    size_t pos = 256;
    const int lengths[] = {256, 17, 1, 232, 0};
    alloc_counter::Scope scope;
    for (size_t which = 0; pos + 256 <= input.size(); which++)
    {
        const int n = lengths[which % std::size(lengths)];
        model->process(input.data() + pos, output.data() + pos, n);
        pos += static_cast<size_t>(n);
    }
    EXPECT_EQ(scope.counts().allocations, 0u);
    EXPECT_EQ(scope.counts().deallocations, 0u);
}
