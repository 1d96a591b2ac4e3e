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

// One stage of the stack: a two-tap dilated convolution, an optional (folded) batch
// normalisation and an activation.
class ConvNetBlock
{
public:
    // Shapes and fills the block from the weights, advancing the iterator past what it read:
    // the taps (output channel, input channel, tap fastest), then the bias when batchnorm is
    // off, or the running means, variances, weights, biases and epsilon when it is on. The
    // caller has checked that enough weights remain and that the activation is registered.
    void set_weights_(int in_channels, int out_channels, int dilation, bool batchnorm, const std::string activation,
                      std::vector<float>::iterator& weights);

    Conv1D conv;
    Eigen::VectorXf batchnorm_scale;
    Eigen::VectorXf batchnorm_shift;
    bool batchnorm = false;
    activations::Activation* activation = nullptr;
};

// A stack of dilated convolution blocks and a linear head. The receptive field of the input
// history is the largest dilation: every stage matrix keeps the history its reader needs.
class ConvNet : public Buffer
{
public:
    // Throws std::runtime_error for a malformed configuration (negative channels, no dilations,
    // a negative dilation, an unregistered activation) or a weight count that does not match,
    // before anything is sized.
    ConvNet(int channels, const std::vector<int>& dilations, bool batchnorm, const std::string& activation,
            std::vector<float>& weights, double expected_sample_rate);

    // Allocates nothing for blocks no longer than the longest one seen so far (the warm-up
    // runs blocks of 512).
    void process(float* input, float* output, int num_frames) override;
    int PrewarmSamples() override { return prewarm_samples; }
    void _update_buffers_(float* input, int num_frames) override;
    void _rewind_buffers_() override;
    // Besides what Buffer keeps, keeps for every stage that a block reads the dilation's worth of
    // columns before the offset. The last stage, and the input history itself, are read only
    // where the block has just written them. A stage not sized yet (before the first block) reads
    // as the zeros the next block makes it, so zeros are kept for it and nothing is put back.
    void remember_state() override;
    void restore_state() override;

    std::vector<ConvNetBlock> blocks;
    // One matrix per stage, at least as wide as the history (wider once the history has been
    // restored to a smaller size): a block reads and writes only columns the history's size allows.
    std::vector<Eigen::MatrixXf> stage_signals;
    // Sized to the longest block seen; a block of n samples uses its first n entries.
    Eigen::VectorXf head_result;
    Eigen::VectorXf head_weight;
    float head_bias = 0.0f;
    int32_t prewarm_samples = 0;

protected:
    // A growth of the history clears every stage with it (sized to the new history where narrower).
    void history_cleared_() override;

private:
    Eigen::Index stage_rows_(size_t k) const { return k == 0 ? 1 : blocks[k - 1].conv.get_out_channels(); }
    // Gives a stage of the wrong height or narrower than the history the history's width, with
    // zeros; with clear, zeroes the others too (in place, allocating nothing).
    void fit_stages_(bool clear);
    // Whether stage k is at least the history's width and holds the dilation's worth of columns
    // before offset.
    bool stage_holds_window_(size_t k, int64_t offset) const;
};

} // namespace convnet
} // namespace kep
