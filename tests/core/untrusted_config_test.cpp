#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/config_int.h"
#include "core_test_util.h"
#include "wavenet_reference.h"

using core_test::load_error;
using core_test::record;
using nlohmann::json;

namespace
{
// The record of a model file's text, as read_config_file fills it.
kep::dspData from_text(const std::string& text)
{
    const json j = json::parse(text);
    return record(j["architecture"], j["config"], j["weights"].get<std::vector<float>>());
}

std::string library_error(const json& value)
{
    try
    {
        (void)value.get<int>();
    }
    catch (const std::exception& e)
    {
        return e.what();
    }
    return {};
}
} // namespace

TEST(ConfigIntegers, NumbersBeyondTheIntRangeAreRefusedNamingTheKey)
{
    const struct
    {
        const char* text;
        const char* key;
    } files[] = {
        {R"({"version": "0.5.0", "architecture": "WaveNet", "config": {"layers": [{"input_size": 1, "condition_size": 1,
            "head_size": 1, "channels": 1e40, "kernel_size": 1, "dilations": [1], "activation": "Tanh",
            "gated": false, "head_bias": false}], "head_scale": 0.02}, "weights": [0.0]})",
         "layers[0].channels"},
        {R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 3e9, "bias": false},
            "weights": [0.0]})",
         "receptive_field"},
        {R"({"version": "0.5.0", "architecture": "LSTM", "config": {"input_size": 1, "hidden_size": 1e10,
            "num_layers": 1}, "weights": [0.0]})",
         "hidden_size"},
        {R"({"version": "0.5.0", "architecture": "ConvNet", "config": {"channels": 2, "dilations": [1, 5e9],
            "batchnorm": false, "activation": "Tanh"}, "weights": [0.0]})",
         "dilations[1]"},
        // Integer literals that do not fit are refused too, not wrapped.
        {R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": 3000000000, "bias": false},
            "weights": [0.0]})",
         "receptive_field"},
        {R"({"version": "0.5.0", "architecture": "Linear", "config": {"receptive_field": -2147483649, "bias": false},
            "weights": [0.0]})",
         "receptive_field"},
        {R"({"version": "0.5.0", "architecture": "ConvNet", "config": {"channels": 18446744073709551615,
            "dilations": [1], "batchnorm": false, "activation": "Tanh"}, "weights": [0.0]})",
         "channels"},
    };
    for (const auto& file : files)
    {
        const std::string error = load_error(from_text(file.text));
        EXPECT_NE(error.find(std::string("\"") + file.key + "\" is outside the 32-bit integer range"),
                  std::string::npos)
            << error;
    }
}

TEST(ConfigIntegers, InRangeValuesConvertAsTheLibraryDoes)
{
    EXPECT_EQ(kep::config_int(json(2147483647), "k"), 2147483647);
    EXPECT_EQ(kep::config_int(json(-2147483648LL), "k"), -2147483648LL);
    EXPECT_EQ(kep::config_int(json(2147483647.9), "k"), 2147483647);
    EXPECT_EQ(kep::config_int(json(-2147483648.9), "k"), -2147483648LL);
    EXPECT_EQ(kep::config_int(json(2.9), "k"), 2);
    EXPECT_EQ(kep::config_int(json(true), "k"), 1);
    EXPECT_THROW(kep::config_int(json(2147483648.0), "k"), std::runtime_error);
    EXPECT_THROW(kep::config_int(json(std::nan("")), "k"), std::runtime_error);
    EXPECT_THROW(kep::config_int(json(-INFINITY), "k"), std::runtime_error);

    // Other types keep the library's own error.
    for (const json& value : {json("3"), json(nullptr), json::array({1})})
    {
        try
        {
            kep::config_int(value, "k");
            ADD_FAILURE() << value.dump() << " was converted";
        }
        catch (const json::type_error& e)
        {
            EXPECT_EQ(std::string(e.what()), library_error(value));
        }
    }
    EXPECT_EQ(kep::config_int_list(json::array({1, 2.5, false}), "d"), (std::vector<int>{1, 2, 0}));
    EXPECT_THROW(kep::config_int_list(json(5), "d"), json::type_error);
}

// Sizes that pass the weight count but would make the loader allocate gigabytes or warm up for
// hours are refused before anything is sized.
TEST(LoadLimits, CostlyConfigsAreRefusedQuickly)
{
    const auto start = std::chrono::steady_clock::now();

    // No channels take no weights, but a history of 32 x 2^29 samples.
    const std::string convnet = load_error(record(
        "ConvNet", {{"channels", 0}, {"dilations", {1 << 29}}, {"batchnorm", false}, {"activation", "Tanh"}}, {0.0f}));
    EXPECT_NE(convnet.find("floats of state"), std::string::npos) << convnet;

    // Thirty one-cell layers warmed up for 2e9 samples (a "sample_rate" of 4 GHz).
    const size_t lstm_weights = 4 * 2 + 6 + 29 * (8 + 6) + 2;
    const std::string lstm = load_error(record("LSTM", {{"num_layers", 30}, {"input_size", 1}, {"hidden_size", 1}},
                                               std::vector<float>(lstm_weights), nullptr, 4e9));
    EXPECT_NE(lstm.find("warming the model up"), std::string::npos) << lstm;

    // Forty arrays, eight weights each, every one with a receptive field of 65001 samples.
    wavenet_reference::ArraySpec cheap{1, 1, 1, 1, 2, {65000}, "Tanh", false, false};
    const std::vector<wavenet_reference::ArraySpec> arrays(40, cheap);
    const std::string wavenet = load_error(record("WaveNet", wavenet_reference::config(arrays),
                                                  std::vector<float>(wavenet_reference::weight_count(arrays))));
    EXPECT_NE(wavenet.find("warming the model up"), std::string::npos) << wavenet;

    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(LoadLimits, RealisticLargeModelsStillLoad)
{
    std::vector<int> dilations;
    for (int d = 1; d <= 512; d *= 2)
        dilations.push_back(d);
    const std::vector<wavenet_reference::ArraySpec> arrays = {{1, 1, 8, 16, 3, dilations, "Tanh", false, false},
                                                              {16, 1, 1, 8, 3, dilations, "Tanh", false, true}};
    kep::dspData wavenet = record("WaveNet", wavenet_reference::config(arrays),
                                  std::vector<float>(wavenet_reference::weight_count(arrays)));
    EXPECT_NO_THROW(kep::get_dsp(wavenet));

    // A large LSTM captured at 96 kHz warms up on half a second of its rate.
    const size_t hidden = 64;
    const size_t lstm_weights = 4 * hidden * (1 + hidden) + 6 * hidden + hidden + 1;
    kep::dspData lstm = record("LSTM", {{"num_layers", 1}, {"input_size", 1}, {"hidden_size", hidden}},
                               std::vector<float>(lstm_weights), nullptr, 96000.0);
    EXPECT_NO_THROW(kep::get_dsp(lstm));
}
