#pragma once

#include <vector>

#include <Eigen/Dense>

#include "core/dsp.h"

namespace kep
{
namespace lstm
{

class LSTMCell
{
public:
    LSTMCell(int input_size, int hidden_size, std::vector<float>::iterator& weights);
    void process_(const Eigen::VectorXf& x);

    Eigen::MatrixXf gate_weights;
    Eigen::VectorXf gate_biases;
    Eigen::VectorXf input_and_hidden;
    Eigen::VectorXf gate_values;
    Eigen::VectorXf cell_state;
};

class LSTM : public DSP
{
public:
    LSTM(int num_layers, int input_size, int hidden_size, std::vector<float>& weights, double expected_sample_rate);

    void process(float* input, float* output, int num_frames) override;
    int PrewarmSamples() override;

    Eigen::VectorXf head_weight;
    float head_bias = 0.0f;
    std::vector<LSTMCell> layers;
    Eigen::VectorXf input;
};

} // namespace lstm
} // namespace kep
