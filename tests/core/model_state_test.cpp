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
// remembered it (a warmed-up ConvNet's is long enough already).
std::unique_ptr<kep::DSP> load(const Model& model)
{
    kep::dspData data = core_test::record(model.architecture, model.config,
                                          testing_support::uniform_values(model.weights, 3, -0.5f, 0.5f));
    auto dsp = kep::get_dsp(data);
    if (auto* history = dynamic_cast<kep::Buffer*>(dsp.get()))
        history->reserve_history(256);
    return dsp;
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
