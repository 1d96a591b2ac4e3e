#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "alloc_counter.h"
#include "core/dsp.h"
#include "core_test_util.h"
#include "wavenet_reference.h"

using core_test::run_blocks;
using testing_support::noise;

namespace
{

// A small model of each architecture and a signal length that passes a rewind of its longest
// history.
struct Model
{
    std::string architecture;
    nlohmann::json config;
    size_t weights;
    int length;
};

const std::vector<Model> models{
    {"Linear", {{"receptive_field", 40}, {"bias", true}}, 41, 20000},
    {"ConvNet", {{"channels", 3}, {"batchnorm", false}, {"dilations", {1, 0, 16, 4}}, {"activation", "Tanh"}}, 76, 40000},
    {"LSTM", {{"num_layers", 2}, {"input_size", 1}, {"hidden_size", 3}}, 160, 3000},
    {"WaveNet",
     wavenet_reference::config({{1, 1, 2, 3, 3, {1, 4, 16}, "Tanh", true, false},
                                {3, 1, 1, 2, 2, {2, 0, 32}, "Tanh", false, true}}),
     307, 70000},
};

// Loaded as the plug-in loads it: for a Linear model, the history then grows after get_dsp
// remembered it (a warmed-up ConvNet's is long enough already). A larger reserve grows (and
// clears) a ConvNet's warmed-up history too, before its first block.
std::unique_ptr<kep::DSP> load(const Model& model, int reserve = 256)
{
    kep::dspData data = core_test::record(model.architecture, model.config,
                                          testing_support::uniform_values(model.weights, 3, -0.5f, 0.5f));
    auto dsp = kep::get_dsp(data);
    if (auto* history = dynamic_cast<kep::Buffer*>(dsp.get()))
        history->reserve_history(reserve);
    return dsp;
}

// The first sample where two outputs of the same length differ, or their length.
size_t first_difference(const std::vector<float>& a, const std::vector<float>& b)
{
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i])
        i++;
    return i;
}

} // namespace

TEST(RestoredModel, ReplaysItsFreshOutputBitForBit)
{
    // Block lengths for the signal and for the noise in between; in the last, a block longer
    // than any before grows (and clears) the histories between the two.
    const std::vector<std::pair<std::vector<int>, std::vector<int>>> schedules{
        {{256}, {256}}, {{1, 7, 255, 128}, {1, 7, 255, 128}}, {{256}, {256, 1024}}};
    for (const Model& model_case : models)
        for (const auto& [lengths, noise_lengths] : schedules)
        {
            SCOPED_TRACE(model_case.architecture + ", last blocks " + std::to_string(lengths.back()) + " and "
                         + std::to_string(noise_lengths.back()));
            auto model = load(model_case);
            const auto input = noise(model_case.length, 1);
            const auto fresh = run_blocks(*model, input, lengths);
            // Other data in every history, left at another position.
            run_blocks(*model, noise(model_case.length + 333, 2), noise_lengths);
            ASSERT_NE(run_blocks(*model, input, lengths), fresh);

            model->restore_state();
            EXPECT_EQ(run_blocks(*model, input, lengths), fresh);
        }
}

TEST(RestoredModel, AllocatesNothing)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    for (const Model& model_case : models)
    {
        auto model = load(model_case);
        run_blocks(*model, noise(model_case.length, 2), {256});
        alloc_counter::Scope scope;
        model->restore_state();
        EXPECT_EQ(scope.counts().allocations, 0u) << model_case.architecture;
        EXPECT_EQ(scope.counts().deallocations, 0u) << model_case.architecture;
    }
}

TEST(RestoredModel, GrowsAgainWithoutAllocatingUpToTheLongestBlockSeen)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    for (const Model& model_case : models)
    {
        auto model = load(model_case);
        auto input = noise(4096 * 3, 2);
        std::vector<float> output(input.size());
        run_blocks(*model, input, {4096});
        // The restore shrinks the history, larger now, back to its kept size, which then grows
        // again for these blocks (and clears), within what it had.
        alloc_counter::Scope scope;
        model->restore_state();
        int position = 0;
        for (const int n : {1, 4096, 333, 4096})
        {
            model->process(input.data() + position, output.data() + position, n);
            position += n;
        }
        EXPECT_EQ(scope.counts().allocations, 0u) << model_case.architecture;
        EXPECT_EQ(scope.counts().deallocations, 0u) << model_case.architecture;
    }
}

namespace
{

// Block schedules (cycled over the signal) that start with a block longer than the warm-up's
// 512-sample chunks, of even and odd lengths, or grow the history later, or make it rewind at
// odd offsets.
const std::vector<std::vector<int>> long_schedules{
    {1024}, {4096}, {1023}, {4097, 3}, {777, 1}, {513, 2049, 1}, {256, 1024}, {100, 200, 300}, {1, 7, 4095}};

// What runs between the fresh output and the restore: blocks that leave every history larger
// than the fresh model's (4096, 1024), or at its size (256).
const std::vector<std::vector<int>> noise_schedules{{4096, 1, 1024}, {256}};

} // namespace

// A fresh model grows its history (and clears it, and a ConvNet's stages) at the first block too
// long for it; a restored one must do so at the same block, however large its history has grown.
TEST(RestoredModel, ReplaysAFreshModelWhenBlocksAreLongerThanTheWarmUpChunk)
{
    for (const int reserve : {256, 4096})
        for (const Model& model_case : models)
            for (const auto& lengths : long_schedules)
            {
                // Only a model with an input history takes a reserve.
                if (reserve != 256 && !dynamic_cast<kep::Buffer*>(load(model_case).get()))
                    continue;
                const auto input = noise(model_case.length, 1);
                const auto fresh = run_blocks(*load(model_case, reserve), input, lengths);
                for (const auto& noise_lengths : noise_schedules)
                {
                    SCOPED_TRACE(::testing::Message()
                                 << model_case.architecture << ", reserve " << reserve << ", blocks " << lengths[0]
                                 << " (" << lengths.size() << " lengths), noise blocks " << noise_lengths[0]);
                    auto model = load(model_case, reserve);
                    run_blocks(*model, noise(model_case.length + 333, 2), noise_lengths);
                    model->restore_state();
                    const auto restored = run_blocks(*model, input, lengths);
                    const size_t at = first_difference(restored, fresh);
                    EXPECT_EQ(at, fresh.size()) << "first differing sample " << at << ": restored " << restored[at]
                                                << ", fresh " << fresh[at];
                    // And again, from the larger history that these blocks left.
                    model->restore_state();
                    EXPECT_EQ(run_blocks(*model, input, lengths), fresh);
                }
            }
}
