#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "core/wavenet.h"
#include "core_test_util.h"
#include "wavenet_reference.h"

using core_test::ends_with;
using core_test::load_error;
using core_test::record;
using nlohmann::json;
using wavenet_reference::ArraySpec;

namespace
{

std::unique_ptr<kep::DSP> load(const std::vector<ArraySpec>& arrays, std::vector<float> weights)
{
    kep::dspData data = record("WaveNet", wavenet_reference::config(arrays), std::move(weights));
    return kep::get_dsp(data);
}

kep::wavenet::WaveNet& as_wavenet(kep::DSP& model) { return dynamic_cast<kep::wavenet::WaveNet&>(model); }

std::vector<float> counting_weights(size_t count)
{
    std::vector<float> w(count);
    std::iota(w.begin(), w.end(), 0.0f);
    return w;
}

kep::wavenet::LayerArrayParams params_of(const ArraySpec& a)
{
    return {a.input_size, a.condition_size, a.head_size, a.channels, a.kernel_size, a.dilations, a.activation, a.gated,
            a.head_bias};
}

// Builds without the factory, so nothing is warmed up.
std::unique_ptr<kep::wavenet::WaveNet> construct(const std::vector<ArraySpec>& arrays)
{
    std::vector<kep::wavenet::LayerArrayParams> params;
    for (const auto& a : arrays)
        params.push_back(params_of(a));
    std::vector<float> weights = wavenet_reference::random_weights(wavenet_reference::weight_count(arrays), 7);
    return std::make_unique<kep::wavenet::WaveNet>(params, 1.0f, false, weights, 48000.0);
}

const ArraySpec small{}; // I = S = H = 1, C = 2, K = 2, dilations [1], not gated, no head bias

ArraySpec rf31()
{
    ArraySpec a;
    a.kernel_size = 3;
    a.dilations = {1, 2, 4, 8};
    return a;
}

} // namespace

TEST(WaveNetWeights, CountsAndMismatchMessages)
{
    EXPECT_EQ(wavenet_reference::weight_count({small}), 23u);
    EXPECT_NO_THROW(load({small}, std::vector<float>(23, 0.1f)));
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({small}), std::vector<float>(24))),
              "Weight mismatch: assigned 23 weights, but 24 were provided.");
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({small}), std::vector<float>(22))),
              "Weight mismatch: provided 22 weights, but the model expects more.");
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({small}), {})),
              "Weight mismatch: provided 0 weights, but the model expects more.");

    ArraySpec gated = small;
    gated.gated = true;
    EXPECT_EQ(wavenet_reference::weight_count({gated}), 35u);
    EXPECT_NO_THROW(load({gated}, std::vector<float>(35, 0.1f)));
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({gated}), std::vector<float>(34))),
              "Weight mismatch: provided 34 weights, but the model expects more.");

    // Two arrays, head bias, kernel 3: the count of the reference formula is what the model takes.
    ArraySpec first{1, 1, 3, 4, 3, {1, 2}, "Tanh", true, false};
    ArraySpec second{4, 1, 1, 3, 3, {1, 4}, "ReLU", false, true};
    const size_t count = wavenet_reference::weight_count({first, second});
    EXPECT_NO_THROW(load({first, second}, std::vector<float>(count, 0.01f)));
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({first, second}), std::vector<float>(count + 1))),
              "Weight mismatch: assigned " + std::to_string(count) + " weights, but " + std::to_string(count + 1)
                  + " were provided.");
}

TEST(WaveNetWeights, FileOrderFillsEveryBlock)
{
    // Weight i has the value i, so every element names its position in the file.
    ArraySpec a{1, 1, 2, 2, 2, {1}, "Tanh", true, true};
    const size_t count = wavenet_reference::weight_count({a});
    auto model = load({a}, counting_weights(count));
    const auto& array = as_wavenet(*model).layer_arrays.at(0);
    const auto& layer = array.layers.at(0);
    EXPECT_EQ(array.input_projection.weight(0, 0), 0.0f);
    EXPECT_EQ(array.input_projection.weight(1, 0), 1.0f);
    // conv: G = 4 rows, 2 inputs, 2 taps, tap fastest, starting at 2
    EXPECT_EQ(layer.conv.taps[0](0, 0), 2.0f);
    EXPECT_EQ(layer.conv.taps[1](0, 0), 3.0f);
    EXPECT_EQ(layer.conv.taps[0](0, 1), 4.0f);
    EXPECT_EQ(layer.conv.taps[1](3, 1), 17.0f);
    EXPECT_EQ(layer.conv.bias(0), 18.0f);
    EXPECT_EQ(layer.conv.bias(3), 21.0f);
    EXPECT_EQ(layer.condition_mixer.weight(0, 0), 22.0f);
    EXPECT_EQ(layer.condition_mixer.weight(3, 0), 25.0f);
    EXPECT_EQ(layer.output_mixer.weight(0, 1), 27.0f); // row by row
    EXPECT_EQ(layer.output_mixer.weight(1, 0), 28.0f);
    EXPECT_EQ(layer.output_mixer.bias(1), 31.0f);
    EXPECT_EQ(array.head_projection.weight(1, 0), 34.0f);
    EXPECT_EQ(array.head_projection.bias(1), 37.0f);
    EXPECT_EQ(as_wavenet(*model).head_scale, static_cast<float>(count - 1));
    EXPECT_EQ(count, 39u);
}

TEST(WaveNetWeights, HeadScaleComesFromTheLastWeight)
{
    std::vector<float> weights = wavenet_reference::random_weights(wavenet_reference::weight_count({small}), 3);
    weights.back() = 0.5f;
    // The factory warms up on one chunk of 512 zeros before the first block.
    std::vector<float> signal(512, 0.0f);
    signal.insert(signal.end(), {0.3f, -0.2f, 0.9f});
    const auto expected = wavenet_reference::run({small}, weights, signal);
    for (float config_scale : {1.0f, -40.0f})
    {
        kep::dspData data = record("WaveNet", wavenet_reference::config({small}, config_scale), weights);
        auto model = kep::get_dsp(data);
        EXPECT_EQ(as_wavenet(*model).head_scale, 0.5f);
        std::vector<float> in{0.3f, -0.2f, 0.9f}, out(3);
        model->process(in.data(), out.data(), 3);
        for (size_t j = 0; j < 3; j++)
            EXPECT_NEAR(out[j], expected[512 + j], 1e-5f);
    }
}

TEST(WaveNetMessages, HeadHeadScaleChainAndBlockLength)
{
    const std::vector<float> weights(23, 0.1f);
    json config = wavenet_reference::config({small});
    config["head"] = false;
    EXPECT_EQ(load_error(record("WaveNet", config, weights)), "Head not implemented!");
    config["head"] = json::object();
    EXPECT_EQ(load_error(record("WaveNet", config, weights)), "Head not implemented!");
    config.erase("head_scale");
    EXPECT_TRUE(ends_with(load_error(record("WaveNet", config, weights)), "type must be number, but is null"));
    config = wavenet_reference::config({small});
    config.erase("head");
    EXPECT_NO_THROW(kep::get_dsp(*std::make_unique<kep::dspData>(record("WaveNet", config, weights))));

    ArraySpec first = small, second = small;
    first.head_size = 4;
    second.channels = 8;
    second.input_size = 2;
    // The chain is checked before the weights are counted.
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({first, second}), {})),
              "channels of layer 1 (8) doesn't match head_size of preceding layer (4!\n");

    auto model = construct({rf31()});
    std::vector<float> in(65536, 0.0f), out(65536, 7.0f);
    try
    {
        model->process(in.data(), out.data(), 65536);
        ADD_FAILURE() << "a block of 65536 samples was accepted";
    }
    catch (const std::runtime_error& e)
    {
        EXPECT_STREQ(e.what(), "Asked to accept a buffer of 65536 samples, but the buffer is too short (65536) to get "
                               "out of the recptive field (31); copy errors could occur!\n");
    }
    EXPECT_EQ(model->block_size, 0);
    EXPECT_EQ(model->layer_arrays[0].buffer_start, 30);
    EXPECT_EQ(out[0], 7.0f);
    model->process(in.data(), out.data(), 65536 - 31); // the longest block that fits
    EXPECT_EQ(model->block_size, 65536 - 31);
}

TEST(WaveNetLayout, ReceptiveFieldBuffersAndWarmUpLength)
{
    auto one = construct({rf31()});
    const auto& array = one->layer_arrays.at(0);
    EXPECT_EQ(array._get_receptive_field(), 31);
    ASSERT_EQ(array.layer_buffers.size(), 4u);
    for (const auto& buffer : array.layer_buffers)
    {
        EXPECT_EQ(buffer.rows(), 2);
        EXPECT_EQ(buffer.cols(), 65566);
        EXPECT_TRUE(buffer.isZero());
    }
    EXPECT_EQ(array.buffer_start, 30);
    EXPECT_EQ(one->PrewarmSamples(), 31);
    EXPECT_EQ(one->block_size, 0);

    ArraySpec second = rf31();
    second.input_size = 2;
    second.channels = 1; // follows head size 1
    EXPECT_EQ(construct({rf31(), second})->PrewarmSamples(), 61);

    ArraySpec plain = small;
    plain.dilations = {};
    EXPECT_EQ(construct({plain})->layer_arrays[0]._get_receptive_field(), 1);

    // The factory warms up on whole 512-sample chunks.
    auto warmed = load({rf31()}, std::vector<float>(wavenet_reference::weight_count({rf31()}), 0.01f));
    EXPECT_EQ(as_wavenet(*warmed).block_size, 512);
    EXPECT_EQ(as_wavenet(*warmed).layer_arrays[0].buffer_start, 30 + 512);
}

TEST(WaveNetLayout, RewindKeepsEachLayersOwnHistory)
{
    auto model = construct({rf31()});
    auto& array = model->layer_arrays[0];
    std::vector<float> in(256), out(256);
    for (size_t i = 0; i < in.size(); i++)
        in[i] = std::sin(0.1f * static_cast<float>(i));
    model->process(in.data(), out.data(), 256); // leave something non-zero in every buffer

    array.buffer_start = 65310;
    model->process(in.data(), out.data(), 256); // 65310 + 256 = 65566 still fits
    EXPECT_EQ(array.buffer_start, 65566);

    std::vector<Eigen::MatrixXf> newest;
    const long history[] = {2, 4, 8, 16};
    for (size_t i = 0; i < 4; i++)
        newest.push_back(array.layer_buffers[i].middleCols(65566 - history[i], history[i]));
    model->process(in.data(), out.data(), 256);
    EXPECT_EQ(array.buffer_start, 30 + 256);
    for (size_t i = 0; i < 4; i++)
    {
        EXPECT_EQ(array.layer_buffers[i].middleCols(30 - history[i], history[i]), newest[i]) << "buffer " << i;
        EXPECT_FALSE(newest[i].isZero()) << "buffer " << i;
    }
}

TEST(WaveNetLayout, GatedColumnIsActivationTimesSigmoid)
{
    // Conv taps and condition mixer zero: layer_work is the conv bias p, q, u, v in every column.
    kep::wavenet::_Layer layer(1, 2, 1, 1, kep::activations::Activation::get_activation("Tanh"), true);
    layer.layer_work.resize(4, 3);
    const float p = 0.5f, q = -1.5f, u = 2.0f, v = -0.25f;
    std::vector<float> weights(8, 0.0f);                      // taps 4 x 2 x 1
    weights.insert(weights.end(), {p, q, u, v});              // conv bias
    weights.insert(weights.end(), 4, 0.0f);                   // condition mixer
    weights.insert(weights.end(), {1.0f, 0.0f, 0.0f, 1.0f});  // output mixer: identity
    weights.insert(weights.end(), {0.0f, 0.0f});              // output bias
    auto it = weights.begin();
    layer.set_weights_(it);
    EXPECT_TRUE(it == weights.end());

    Eigen::MatrixXf input = Eigen::MatrixXf::Constant(2, 5, 0.25f), condition = Eigen::MatrixXf::Ones(1, 3);
    Eigen::MatrixXf head = Eigen::MatrixXf::Zero(2, 3), output = Eigen::MatrixXf::Zero(2, 3);
    layer.process_(input, 2, condition, head, output, 0, 3);
    const float top = std::tanh(p) / (std::exp(-u) + 1.0f), bottom = std::tanh(q) / (std::exp(-v) + 1.0f);
    for (long j = 0; j < 3; j++)
    {
        EXPECT_NEAR(layer.layer_work(0, j), top, 1e-6f);
        EXPECT_NEAR(layer.layer_work(1, j), bottom, 1e-6f);
        EXPECT_NEAR(head(0, j), top, 1e-6f);
        EXPECT_NEAR(output(0, j), 0.25f + top, 1e-6f); // residual plus the mixed output
        EXPECT_NEAR(output(1, j), 0.25f + bottom, 1e-6f);
    }
}

TEST(WaveNetLayout, EmptyAndNegativeBlocksChangeNothing)
{
    auto model = construct({rf31()});
    std::vector<float> in(8, 0.5f), out(8, 9.0f);
    model->process(in.data(), out.data(), 8);
    model->process(in.data(), out.data(), 0);
    EXPECT_EQ(model->block_size, 0);
    EXPECT_EQ(model->layer_arrays[0].buffer_start, 38);
    std::fill(out.begin(), out.end(), 9.0f);
    model->process(in.data(), out.data(), -5);
    EXPECT_EQ(model->block_size, 0);
    EXPECT_EQ(model->layer_arrays[0].buffer_start, 38);
    EXPECT_EQ(out, std::vector<float>(8, 9.0f));
}

TEST(WaveNetRefusals, ConfigsTheMatricesCannotTake)
{
    const auto refused = [](json config, std::vector<float> weights, const std::string& part) {
        const std::string message = load_error(record("WaveNet", std::move(config), std::move(weights)));
        EXPECT_NE(message.find(part), std::string::npos) << message;
    };
    const std::vector<float> enough(23, 0.1f);
    json config = wavenet_reference::config({small});
    config.erase("layers");
    refused(config, enough, "no layer arrays");
    config["layers"] = nullptr;
    refused(config, enough, "no layer arrays");
    config["layers"] = json::array();
    refused(config, enough, "no layer arrays");

    const auto with = [](const char* key, json value) {
        json config = wavenet_reference::config({small});
        config["layers"][0][key] = std::move(value);
        return config;
    };
    refused(with("input_size", 2), enough, "\"input_size\" must be 1");
    refused(with("condition_size", 2), enough, "\"condition_size\" must be 1");
    refused(with("condition_size", 0), enough, "\"condition_size\" must be 1");
    refused(with("kernel_size", 0), enough, "\"kernel_size\" must be at least 1");
    refused(with("channels", 0), enough, "\"channels\" must be at least 1");
    refused(with("channels", -3), enough, "\"channels\" must be at least 1");
    refused(with("head_size", 0), enough, "\"head_size\" must be at least 1");
    refused(with("dilations", json::array({1, -2})), enough, "dilation 1 is negative (-2)");
    for (const char* name : {"tanh", "HardTanh", "", "Softmax"})
        refused(with("activation", name), enough, std::string("unknown activation \"") + name + "\"");

    // A later array must read the channels of the one before it.
    ArraySpec first = small, second = small;
    first.head_size = 2;
    second.input_size = 3;
    refused(wavenet_reference::config({first, second}),
            std::vector<float>(wavenet_reference::weight_count({first, second}), 0.1f),
            "\"input_size\" (3) must equal the channels of the preceding layer array (2)");

    // Absurd sizes are refused by the weight count, before anything of that size is allocated.
    refused(with("channels", 2000000000), enough, "Weight mismatch: provided 23 weights, but the model expects more.");
    refused(with("kernel_size", std::numeric_limits<int>::max()), enough, "Weight mismatch: provided 23 weights");
    json many = with("dilations", json::array());
    many["layers"][0]["dilations"] = std::vector<int>(1000, 1);
    refused(many, enough, "Weight mismatch: provided 23 weights");
    // A receptive field too long for the warm-up's blocks is refused before its buffers exist.
    refused(with("dilations", json::array({1000000000})), enough,
            "Asked to accept a buffer of 512 samples, but the buffer is too short (65536) to get out of the recptive "
            "field (1000000001); copy errors could occur!\n");
    refused(with("dilations", json::array({65024})), enough, "recptive field (65025)");
    EXPECT_NO_THROW(kep::get_dsp(*std::make_unique<kep::dspData>(
        record("WaveNet", with("dilations", json::array({65023})), enough))));
}

TEST(WaveNetRefusals, ErrorOrderFollowsConstruction)
{
    // Head before the layers, the chain before the weight count, the weight count before the
    // receptive field.
    json config = wavenet_reference::config({});
    config["head"] = 1;
    EXPECT_EQ(load_error(record("WaveNet", config, {})), "Head not implemented!");

    ArraySpec first = small, second = small;
    second.channels = 5;
    second.activation = "nonsense";
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({first, second}), {})),
              "channels of layer 1 (5) doesn't match head_size of preceding layer (1!\n");

    ArraySpec huge = small;
    huge.dilations = {100000};
    EXPECT_EQ(load_error(record("WaveNet", wavenet_reference::config({huge}), {})),
              "Weight mismatch: provided 0 weights, but the model expects more.");
}
