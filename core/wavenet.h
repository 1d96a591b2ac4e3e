#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <Eigen/Dense>

#include "core/activations.h"
#include "core/conv1d.h"
#include "core/conv1x1.h"
#include "core/dsp.h"
#include "core/state_copy.h"

namespace kep
{
namespace wavenet
{

// One element of the config's "layers", as read from the model file.
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

// Number of columns kept in every layer buffer besides the receptive field's history.
constexpr int64_t LAYER_BUFFER_SIZE = 65536;

// A dilated causal convolution plus condition input, the activation (optionally gated by a
// sigmoid) and a 1x1 output mix with a residual connection.
class _Layer
{
public:
    _Layer(int condition_size, int channels, int kernel_size, int dilation, activations::Activation* activation,
           bool gated);

    // Taps (tap index fastest), conv bias, condition mixer, output mixer weight and bias.
    void set_weights_(std::vector<float>::iterator& weights);

    long get_channels() const { return conv.get_in_channels(); }
    int get_dilation() const { return conv.dilation; }
    long get_kernel_size() const { return conv.get_kernel_size(); }
    // Columns of its own input that the layer reads before the current one.
    int64_t history() const { return static_cast<int64_t>(conv.dilation) * (get_kernel_size() - 1); }

    // Runs `count` columns: reads input columns [input_start - history(), input_start + count)
    // and condition columns [0, count), adds the activated output to head_sum columns [0, count)
    // and writes input + output_mixer(activated) to output columns [output_start, + count).
    void process_(const Eigen::MatrixXf& input, long input_start, const Eigen::MatrixXf& condition,
                  Eigen::MatrixXf& head_sum, Eigen::MatrixXf& output, long output_start, long count);

    Conv1D conv;
    Conv1x1 condition_mixer;
    Conv1x1 output_mixer;
    Eigen::MatrixXf layer_work; // G rows; columns [0, count) are used by a block of count samples
    activations::Activation* activation = nullptr;
    bool gated = false;

private:
    std::vector<ColumnSource> sources_; // one per tap, then the condition; pointers set per block
    activations::Activation* sigmoid_ = nullptr; // the gate of a gated layer
};

// A chain of layers with their own history buffers and a head that sums their outputs.
class _LayerArray
{
public:
    _LayerArray(const LayerArrayParams& params);

    void set_weights_(std::vector<float>::iterator& weights);

    // Runs the current block of `count` columns (columns [0, count) of every argument) starting at
    // buffer_start. head_sum carries the head accumulated so far and receives this array's
    // layer outputs; head_output = head_projection(head_sum).
    void process_(const Eigen::MatrixXf& array_input, const Eigen::MatrixXf& condition, Eigen::MatrixXf& head_sum,
                  Eigen::MatrixXf& array_output, Eigen::MatrixXf& head_output, long count);
    // The same with count = the column count of array_input.
    void process_(const Eigen::MatrixXf& array_input, const Eigen::MatrixXf& condition, Eigen::MatrixXf& head_sum,
                  Eigen::MatrixXf& array_output, Eigen::MatrixXf& head_output);

    // Moves each buffer's newest history columns to just before column RF - 1 when a block of
    // count samples would not fit behind buffer_start.
    void rewind_if_needed_(long count);

    // Keeps buffer_start and, for every layer, the history() columns of its buffer before it:
    // all that later blocks read there without having written it.
    void keep_state_(StateCopy& copy);
    // Puts them back. The buffers are sized once and buffer_start never passes their end, so the
    // windows always fit; should they not, the array starts over as a new one (zeroed buffers,
    // buffer_start at RF - 1).
    void put_back_state_(StateCopy::Reader& reader);

    int64_t _get_receptive_field() const;
    long get_channels() const { return input_projection.get_out_channels(); }
    long get_head_size() const { return head_projection.get_out_channels(); }

    int64_t buffer_start = 0;
    Conv1x1 input_projection;
    std::vector<Eigen::MatrixXf> layer_buffers;
    std::vector<_Layer> layers;
    Conv1x1 head_projection;

private:
    bool holds_windows_(int64_t start) const;

    int64_t kept_start_ = 0;
};

class WaveNet : public DSP
{
public:
    // Checks the parameters and the number of weights before anything is sized; throws
    // std::runtime_error when the model cannot be built.
    WaveNet(const std::vector<LayerArrayParams>& layer_array_params, float head_scale, bool with_head,
            std::vector<float>& weights, double expected_sample_rate);

    void process(float* input, float* output, int num_frames) override;
    int PrewarmSamples() override { return prewarm_samples; }
    virtual long _get_condition_dim() const { return 1; }
    virtual void _set_condition_array(float* input, int num_frames);
    // Keeps what every layer array keeps (see _LayerArray::keep_state_); the condition, the
    // head sums and the arrays' outputs are written before they are read in every block.
    void remember_state() override;
    void restore_state() override;

    int64_t block_size = 0; // length of the current block; the work matrices hold at least this many columns
    std::vector<_LayerArray> layer_arrays;
    std::vector<Eigen::MatrixXf> layer_array_outputs;
    Eigen::MatrixXf condition;
    std::vector<Eigen::MatrixXf> head_arrays;
    float head_scale = 0.0f;
    int32_t prewarm_samples = 0;

private:
    // Makes every work matrix at least `columns` wide (contents not kept).
    void reserve_columns_(int64_t columns);

    StateCopy state_copy_;
};

} // namespace wavenet
} // namespace kep
