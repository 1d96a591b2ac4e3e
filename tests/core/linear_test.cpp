#include <vector>

#include <gtest/gtest.h>

#include "core/linear.h"
#include "core_test_util.h"

using core_test::load_error;
using core_test::record;
using core_test::run_blocks;
using nlohmann::json;

namespace
{
const char* size_message = "Params vector does not match expected size based on architecture parameters";

std::unique_ptr<kep::DSP> linear(int receptive_field, bool bias, std::vector<float> weights)
{
    kep::dspData data = record("Linear", {{"receptive_field", receptive_field}, {"bias", bias}}, std::move(weights));
    return kep::get_dsp(data);
}
} // namespace

TEST(LinearModel, TapsAreReversedAndBiasIsAdded)
{
    auto model = linear(3, true, {0.5f, 0.25f, 0.125f, 1.0f});
    auto& lin = dynamic_cast<kep::Linear&>(*model);
    EXPECT_EQ(std::vector<float>(lin.weight.data(), lin.weight.data() + 3), (std::vector<float>{0.125f, 0.25f, 0.5f}));
    EXPECT_EQ(lin.bias, 1.0f);
    EXPECT_EQ(run_blocks(*model, {1, 0, 0, 0}, {4}), (std::vector<float>{1.5f, 1.25f, 1.125f, 1.0f}));
}

TEST(LinearModel, IdentityDelayAndConstantModels)
{
    const std::vector<float> input{0.3f, -0.7f, 0.25f, 1.0f, 0.0f};
    EXPECT_EQ(run_blocks(*linear(3, false, {1, 0, 0}), input, {5}), input);
    EXPECT_EQ(run_blocks(*linear(3, false, {0, 1, 0}), input, {5}),
              (std::vector<float>{0.0f, 0.3f, -0.7f, 0.25f, 1.0f}));
    EXPECT_EQ(run_blocks(*linear(0, true, {0.75f}), input, {2}), std::vector<float>(5, 0.75f));
    EXPECT_EQ(run_blocks(*linear(0, false, {}), input, {2}), std::vector<float>(5, 0.0f));
}

TEST(LinearModel, BlocksContinueOneAnotherAcrossRewinds)
{
    std::vector<float> input(3000);
    for (size_t i = 0; i < input.size(); i++)
        input[i] = static_cast<float>((i * 7919) % 101) / 50.0f - 1.0f;
    // 8 taps give a history of 256: blocks of 1 and 3 samples rewind it many times. The first
    // block of each schedule is the longest, so the history never grows afterwards.
    const std::vector<float> weights{0.3f, -0.2f, 0.1f, 0.05f, -0.4f, 0.6f, 0.01f, -0.02f, 0.125f};
    const auto whole = run_blocks(*linear(8, true, weights), input, {3000});
    auto reference = std::vector<float>(input.size());
    for (size_t t = 0; t < input.size(); t++)
    {
        float sum = 0.0f;
        for (size_t j = 0; j < 8 && j <= t; j++)
            sum += weights[j] * input[t - j];
        reference[t] = sum + 0.125f;
    }
    for (size_t t = 0; t < input.size(); t++)
        ASSERT_NEAR(whole[t], reference[t], 1e-5f) << t;

    auto small = linear(8, true, weights);
    float first = input[0], y;
    small->process(&first, &y, 1);
    std::vector<float> rest(input.begin() + 1, input.end());
    auto streamed = run_blocks(*small, rest, {1, 3, 2});
    streamed.insert(streamed.begin(), y);
    for (size_t t = 0; t < input.size(); t++)
        ASSERT_NEAR(streamed[t], reference[t], 1e-5f) << t;
}

TEST(LinearModel, RefusesMalformedConfigs)
{
    EXPECT_EQ(load_error(record("Linear", {{"receptive_field", 3}, {"bias", true}}, {1, 2, 3})), size_message);
    EXPECT_EQ(load_error(record("Linear", {{"receptive_field", 3}, {"bias", false}}, {1, 2, 3, 4})), size_message);

    EXPECT_TRUE(core_test::ends_with(load_error(record("Linear", {{"bias", true}}, {1})),
                                     "type must be number, but is null"));
    for (const json& value : {json("3"), json::array({3}), json::object()})
        EXPECT_TRUE(core_test::ends_with(load_error(record("Linear", {{"receptive_field", value}, {"bias", true}}, {1})),
                                         std::string("type must be number, but is ") + value.type_name()));
    EXPECT_TRUE(core_test::ends_with(load_error(record("Linear", {{"receptive_field", 1}, {"bias", 1}}, {1, 2})),
                                     "type must be boolean, but is number"));
    EXPECT_TRUE(core_test::ends_with(load_error(record("Linear", {{"receptive_field", 1}}, {1, 2})),
                                     "type must be boolean, but is null"));
    // A fraction is cut toward zero and a boolean counts as 1.
    EXPECT_NO_THROW(linear(0, false, {}));
    kep::dspData fraction = record("Linear", {{"receptive_field", 2.9}, {"bias", false}}, {1, 2});
    EXPECT_EQ(dynamic_cast<kep::Linear&>(*kep::get_dsp(fraction)).receptive_field, 2);
    kep::dspData boolean = record("Linear", {{"receptive_field", true}, {"bias", false}}, {1});
    EXPECT_EQ(dynamic_cast<kep::Linear&>(*kep::get_dsp(boolean)).receptive_field, 1);
}

TEST(LinearModel, RefusesANegativeOrAbsurdReceptiveField)
{
    const std::string negative = load_error(record("Linear", {{"receptive_field", -3}, {"bias", false}}, {}));
    EXPECT_NE(negative.find("receptive field"), std::string::npos) << negative;
    // A huge receptive field with too few weights is refused before any history is sized.
    EXPECT_EQ(load_error(record("Linear", {{"receptive_field", 2000000000}, {"bias", true}}, {1, 2})), size_message);
}

TEST(LinearModel, ReservedHistoryChangesNothingButTheAllocation)
{
    std::vector<float> input(2000);
    for (size_t i = 0; i < input.size(); i++)
        input[i] = static_cast<float>((i * 37) % 23) / 11.0f - 1.0f;
    const std::vector<float> weights{0.5f, -0.25f, 0.125f, 0.0625f, 0.3f};
    const auto plain = run_blocks(*linear(4, true, weights), input, {256, 17, 256, 3});

    auto reserved = linear(4, true, weights);
    auto& history = dynamic_cast<kep::Buffer&>(*reserved);
    history.reserve_history(256);
    EXPECT_EQ(history.input_buffer.size(), 16384u); // first power of two not below 4 + 32 * 256
    const size_t size = history.input_buffer.size();
    EXPECT_EQ(run_blocks(*reserved, input, {256, 17, 256, 3}), plain);
    EXPECT_EQ(history.input_buffer.size(), size);
}
