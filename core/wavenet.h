#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "core/activations.h"
#include "core/conv1d.h"
#include "core/conv1x1.h"
#include "core/dsp.h"

namespace kep
{
namespace wavenet
{

struct LayerArrayParams
{
    int input_size = 0;
    int condition_size = 0;
    int head_size = 0;
    int channels = 0;
    int kernel_size = 0;
    std::vector<int> dilations;
    std::string activation;
    bool gated = false;
    bool head_bias = false;
};

class WaveNet : public DSP
{
public:
    WaveNet(const std::vector<LayerArrayParams>& layer_array_params, float head_scale, bool with_head,
            std::vector<float>& weights, double expected_sample_rate);

    void process(float* input, float* output, int num_frames) override;
    int PrewarmSamples() override { return prewarm_samples; }
    virtual long _get_condition_dim() const { return 1; }
    virtual void _set_condition_array(float* input, int num_frames);

    int64_t block_size = 0;
    float head_scale = 0.0f;
    int32_t prewarm_samples = 0;
};

} // namespace wavenet
} // namespace kep
