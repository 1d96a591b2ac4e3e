#pragma once

#include <string>
#include <vector>

#include <Eigen/Dense>

#include "core/activations.h"
#include "core/conv1d.h"
#include "core/dsp.h"

namespace kep
{
namespace convnet
{

class ConvNetBlock
{
public:
    void set_weights_(int in_channels, int out_channels, int dilation, bool batchnorm, const std::string activation,
                      std::vector<float>::iterator& weights);

    Conv1D conv;
    Eigen::VectorXf batchnorm_scale;
    Eigen::VectorXf batchnorm_shift;
    bool batchnorm = false;
    activations::Activation* activation = nullptr;
};

class ConvNet : public Buffer
{
public:
    ConvNet(int channels, const std::vector<int>& dilations, bool batchnorm, const std::string& activation,
            std::vector<float>& weights, double expected_sample_rate);

    void process(float* input, float* output, int num_frames) override;
    int PrewarmSamples() override { return prewarm_samples; }
    void _update_buffers_(float* input, int num_frames) override;
    void _rewind_buffers_() override;

    std::vector<ConvNetBlock> blocks;
    std::vector<Eigen::MatrixXf> stage_signals;
    Eigen::VectorXf head_result;
    Eigen::VectorXf head_weight;
    float head_bias = 0.0f;
    int32_t prewarm_samples = 0;
};

} // namespace convnet
} // namespace kep
