#include <gtest/gtest.h>

#include "core/linear.h"
#include "core_test_util.h"

using core_test::ends_with;
using core_test::load_error;
using core_test::record;
using nlohmann::json;

namespace
{
const json linear_config = {{"receptive_field", 1}, {"bias", false}};
}

TEST(ModelFactory, ChecksInOrderVersionMetadataArchitectureConfig)
{
    kep::dspData data = record("nothing", nullptr, {}, {{"loudness", "loud"}});
    data.version = "0.4.0";
    EXPECT_EQ(load_error(data).rfind("Model config is an unsupported version 0.4.0", 0), 0u);
    data.version = "0.5.0";
    EXPECT_TRUE(ends_with(load_error(data), "type must be number, but is string"));
    data.metadata = {{"loudness", -3}};
    EXPECT_EQ(load_error(data), "Unrecognized architecture");
    for (const char* name : {"linear", "Linear ", "WaveNet2", ""})
        EXPECT_EQ(load_error(record(name, linear_config, {1})), "Unrecognized architecture") << name;

    // A config that is neither null nor an object fails at its first lookup.
    EXPECT_TRUE(ends_with(load_error(record("Linear", 5, {1})), "cannot use operator[] with a string argument with number"));
    // A null config reads as an empty object.
    EXPECT_TRUE(ends_with(load_error(record("Linear", nullptr, {1})), "type must be number, but is null"));
}

TEST(ModelFactory, RecordsMetadataLevels)
{
    kep::dspData data = record("Linear", linear_config, {1}, {{"loudness", -18.5}, {"input_level_dbu", nullptr}});
    auto model = kep::get_dsp(data);
    EXPECT_TRUE(model->has_loudness);
    EXPECT_DOUBLE_EQ(model->loudness, -18.5);
    EXPECT_FALSE(model->has_input_level);
    EXPECT_FALSE(model->has_output_level);

    data = record("Linear", linear_config, {1}, {{"input_level_dbu", 12.25}, {"output_level_dbu", -3}}, 44100.0);
    model = kep::get_dsp(data);
    EXPECT_FALSE(model->has_loudness);
    EXPECT_EQ(model->loudness, 0.0);
    EXPECT_TRUE(model->has_input_level);
    EXPECT_EQ(model->input_level_dbu, 12.25f);
    EXPECT_TRUE(model->has_output_level);
    EXPECT_EQ(model->output_level_dbu, -3.0f);
    EXPECT_DOUBLE_EQ(model->expected_sample_rate, 44100.0);

    for (const json& metadata : {json::array({1, 2}), json("text"), json(3)})
    {
        data = record("Linear", linear_config, {1}, metadata);
        EXPECT_FALSE(kep::get_dsp(data)->has_loudness) << metadata.dump();
    }
    for (const json& bad : {json("x"), json(true), json::array(), json::object()})
        EXPECT_TRUE(ends_with(load_error(record("Linear", linear_config, {1}, {{"output_level_dbu", bad}})),
                              std::string("type must be number, but is ") + bad.type_name()));
}

TEST(ModelFactory, LinearModelIsNotWarmedUp)
{
    kep::dspData data = record("Linear", {{"receptive_field", 4}, {"bias", false}}, {1, 0, 0, 0});
    auto model = kep::get_dsp(data);
    auto& lin = dynamic_cast<kep::Linear&>(*model);
    EXPECT_EQ(lin.input_buffer.size(), 128u);
    EXPECT_EQ(lin.input_buffer_offset, 4);
}

TEST(ModelFactory, RefusesAModelWhoseOutputForSilenceIsNotFinite)
{
    // Finite weights whose products overflow a 32-bit float on silence, at the first sample.
    const auto refusal = [](const std::string& architecture) {
        return "Invalid " + architecture + ": its output for silence is not finite (inf at sample 0 of the warm-up), "
               "so it cannot play";
    };
    const json lstm_config{{"num_layers", 1}, {"input_size", 1}, {"hidden_size", 1}};
    const std::vector<float> lstm_weights{0, 0, 0, 0, 0, 0, 0, 0, 8, 8, 0, 8, 0, 1, 3e38f, 3e38f};
    EXPECT_EQ(load_error(record("LSTM", lstm_config, lstm_weights, nullptr, 48000.0)), refusal("LSTM"));

    const json layer{{"input_size", 1}, {"condition_size", 1}, {"head_size", 1}, {"channels", 1}, {"kernel_size", 1},
                     {"dilations", {1}}, {"activation", "Tanh"}, {"gated", false}, {"head_bias", true}};
    const json wavenet_config{{"layers", {layer}}, {"head", nullptr}, {"head_scale", 3e38}};
    EXPECT_EQ(load_error(record("WaveNet", wavenet_config, {1, 0, 0, 0, 1, 0, 1, 3e38f, 3e38f})), refusal("WaveNet"));

    const json convnet_config{{"channels", 1}, {"dilations", {1}}, {"batchnorm", false}, {"activation", "Tanh"}};
    EXPECT_EQ(load_error(record("ConvNet", convnet_config, {0, 0, 1, 3e38f, 3e38f})), refusal("ConvNet"));
    // With the head bias negated it plays: tanh(1) * 3e38 - 3e38 is finite.
    auto data = record("ConvNet", convnet_config, {0, 0, 1, 3e38f, -3e38f});
    EXPECT_NE(kep::get_dsp(data), nullptr);
}
