#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "core/get_dsp.h"

namespace core_test
{

inline kep::dspData record(const std::string& architecture, nlohmann::json config, std::vector<float> weights,
                           nlohmann::json metadata = nullptr, double sample_rate = -1.0)
{
    kep::dspData data;
    data.version = "0.5.0";
    data.architecture = architecture;
    data.config = std::move(config);
    data.metadata = std::move(metadata);
    data.weights = std::move(weights);
    data.expected_sample_rate = sample_rate;
    return data;
}

// Message of the exception that building the record throws ("" and a test failure if none).
inline std::string load_error(kep::dspData data)
{
    try
    {
        kep::get_dsp(data);
    }
    catch (const std::exception& e)
    {
        return e.what();
    }
    ADD_FAILURE() << "the model was built";
    return {};
}

inline bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Runs the model over input in blocks of the given lengths (cycled) and returns the output.
inline std::vector<float> run_blocks(kep::DSP& model, const std::vector<float>& input, const std::vector<int>& lengths)
{
    std::vector<float> in(input), out(input.size(), 0.0f);
    size_t pos = 0, which = 0;
    while (pos < in.size())
    {
        const size_t n = std::min<size_t>(static_cast<size_t>(lengths[which++ % lengths.size()]), in.size() - pos);
        model.process(in.data() + pos, out.data() + pos, static_cast<int>(n));
        pos += n;
    }
    return out;
}

} // namespace core_test
