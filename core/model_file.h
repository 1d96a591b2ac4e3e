#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kep
{

// A model file read into memory, handed to get_dsp.
struct dspData
{
    std::string version;
    std::string architecture;
    nlohmann::json config;   // null when the file has no "config"
    nlohmann::json metadata; // null when the file has no "metadata"
    std::vector<float> weights;
    double expected_sample_rate = -1.0; // -1.0 when the file gives no "sample_rate"
};

// Reads and checks a model file; throws on every failure (missing file, JSON errors, version).
dspData read_config_file(const std::string& path);

// Accepts "0.5.x" only; throws std::invalid_argument, std::out_of_range or std::runtime_error.
void verify_config_version(std::string version);

// Converts a JSON number to double. Unlike the library's own conversion it refuses booleans,
// raising the library's type error "type must be number, but is ...".
double json_number(const nlohmann::json& value);

} // namespace kep
