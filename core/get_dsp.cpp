#include "core/get_dsp.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "core/config_int.h"
#include "core/convnet.h"
#include "core/linear.h"
#include "core/lstm.h"
#include "core/wavenet.h"

namespace kep
{

namespace
{

OptionalValue metadata_value(const nlohmann::json& metadata, const char* key)
{
    OptionalValue result;
    // contains() creates nothing, and is false for metadata that is not an object.
    if (metadata.contains(key) && !metadata.at(key).is_null())
    {
        result.value = json_number(metadata.at(key));
        result.has_value = true;
    }
    return result;
}

std::unique_ptr<DSP> build_linear(dspData& data)
{
    nlohmann::json& config = data.config;
    const int receptive_field = config_int(config["receptive_field"], "receptive_field");
    const bool bias = config["bias"].get<bool>();
    return std::make_unique<Linear>(receptive_field, bias, data.weights, data.expected_sample_rate);
}

std::unique_ptr<DSP> build_convnet(dspData& data)
{
    nlohmann::json& config = data.config;
    const int channels = config_int(config["channels"], "channels");
    const bool batchnorm = config["batchnorm"].get<bool>();
    const std::vector<int> dilations = config_int_list(config["dilations"], "dilations");
    const std::string activation = config["activation"].get<std::string>();
    return std::make_unique<convnet::ConvNet>(channels, dilations, batchnorm, activation, data.weights,
                                              data.expected_sample_rate);
}

std::unique_ptr<DSP> build_lstm(dspData& data)
{
    nlohmann::json& config = data.config;
    const int num_layers = config_int(config["num_layers"], "num_layers");
    const int input_size = config_int(config["input_size"], "input_size");
    const int hidden_size = config_int(config["hidden_size"], "hidden_size");
    return std::make_unique<lstm::LSTM>(num_layers, input_size, hidden_size, data.weights, data.expected_sample_rate);
}

std::unique_ptr<DSP> build_wavenet(dspData& data)
{
    nlohmann::json& config = data.config;
    std::vector<wavenet::LayerArrayParams> layer_array_params;
    nlohmann::json& layers = config["layers"];
    for (size_t i = 0; i < layers.size(); i++)
    {
        nlohmann::json& layer = layers[i];
        wavenet::LayerArrayParams params;
        const std::string where = "layers[" + std::to_string(i) + "].";
        params.input_size = config_int(layer["input_size"], where + "input_size");
        params.condition_size = config_int(layer["condition_size"], where + "condition_size");
        params.head_size = config_int(layer["head_size"], where + "head_size");
        params.channels = config_int(layer["channels"], where + "channels");
        params.kernel_size = config_int(layer["kernel_size"], where + "kernel_size");
        params.dilations = config_int_list(layer["dilations"], where + "dilations");
        params.activation = layer["activation"].get<std::string>();
        params.gated = layer["gated"].get<bool>();
        params.head_bias = layer["head_bias"].get<bool>();
        layer_array_params.push_back(std::move(params));
    }
    const bool with_head = !config["head"].is_null();
    const float head_scale = config["head_scale"].get<float>();
    return std::make_unique<wavenet::WaveNet>(layer_array_params, head_scale, with_head, data.weights,
                                              data.expected_sample_rate);
}

} // namespace

std::unique_ptr<DSP> get_dsp(dspData& data)
{
    verify_config_version(data.version);

    OptionalValue loudness, input_level, output_level;
    if (!data.metadata.is_null())
    {
        loudness = metadata_value(data.metadata, "loudness");
        input_level = metadata_value(data.metadata, "input_level_dbu");
        output_level = metadata_value(data.metadata, "output_level_dbu");
    }

    std::unique_ptr<DSP> model;
    if (data.architecture == "Linear")
        model = build_linear(data);
    else if (data.architecture == "ConvNet")
        model = build_convnet(data);
    else if (data.architecture == "LSTM")
        model = build_lstm(data);
    else if (data.architecture == "WaveNet")
        model = build_wavenet(data);
    else
        throw std::runtime_error("Unrecognized architecture");

    if (loudness.has_value)
    {
        model->loudness = loudness.value;
        model->has_loudness = true;
    }
    if (input_level.has_value)
    {
        model->input_level_dbu = static_cast<float>(input_level.value);
        model->has_input_level = true;
    }
    if (output_level.has_value)
    {
        model->output_level_dbu = static_cast<float>(output_level.value);
        model->has_output_level = true;
    }

    try
    {
        model->prewarm();
    }
    catch (const NonFiniteWarmUp& e)
    {
        throw std::runtime_error("Invalid " + data.architecture + ": " + e.what());
    }
    model->remember_state();
    return model;
}

} // namespace kep
