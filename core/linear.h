#pragma once

#include <vector>

#include <Eigen/Dense>

#include "core/dsp.h"

namespace kep
{

// A causal FIR filter over the input history, plus an optional constant offset.
class Linear : public Buffer
{
public:
    // weights: the taps from the current sample backwards, then the bias when bias is true.
    // Throws std::runtime_error when their number does not fit, before anything is sized.
    Linear(int receptive_field, bool bias, const std::vector<float>& weights, double expected_sample_rate);

    void process(float* input, float* output, int num_frames) override;

    Eigen::VectorXf weight; // reversed file order: the last element multiplies the current sample
    float bias = 0.0f;
};

} // namespace kep
