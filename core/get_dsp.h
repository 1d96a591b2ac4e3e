#pragma once

#include <memory>

#include "core/dsp.h"
#include "core/model_file.h"

namespace kep
{

struct OptionalValue
{
    bool has_value = false;
    double value = 0.0;
};

// Builds, fills and warms up the model that a model file describes. Never returns an empty
// pointer: every failure is an exception, after which nothing is left allocated. The record's
// "config" may gain null members while its keys are looked up.
std::unique_ptr<DSP> get_dsp(dspData& data);

} // namespace kep
