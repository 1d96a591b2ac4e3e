#include "core/convnet.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <stdexcept>

#include "core/load_limits.h"

namespace kep
{
namespace convnet
{

namespace
{
const char* weight_count_message = "Didn't touch all the weights when initializing ConvNet";

// Takes count weights from remaining; false when fewer remain. Unsigned 64-bit throughout:
// every count below fits (at most 2 * (2^31)^2 + 4 * 2^31 + 1).
bool take(uint64_t& remaining, uint64_t count)
{
    if (count > remaining)
        return false;
    remaining -= count;
    return true;
}

// Validates the configuration and the number of weights before anything is sized, so that a
// malformed file can neither make us allocate absurd matrices nor read past the weights.
// Returns the receptive field (the largest dilation).
int checked_receptive_field(int channels, const std::vector<int>& dilations, bool batchnorm,
                            const std::string& activation, size_t weight_count)
{
    if (channels < 0)
        throw std::runtime_error("Invalid ConvNet: \"channels\" must not be negative (got " + std::to_string(channels)
                                 + ")");
    if (dilations.empty())
        throw std::runtime_error("Invalid ConvNet: \"dilations\" must not be empty");
    int64_t dilation_sum = 0;
    for (const int d : dilations)
    {
        if (d < 0)
            throw std::runtime_error("Invalid ConvNet: a dilation must not be negative (got " + std::to_string(d)
                                     + ")");
        dilation_sum += d;
        // The warm-up runs 1 + the sum of the dilations samples, counted in 32 bits; far below
        // that, a warm-up of more than 2^30 samples would take hours.
        if (dilation_sum >= (int64_t{1} << 30))
            throw std::runtime_error("Invalid ConvNet: the dilations are too large");
    }
    if (activations::Activation::get_activation(activation) == nullptr)
        throw std::runtime_error("Invalid ConvNet: unknown activation \"" + activation + "\"");

    const uint64_t c = static_cast<uint64_t>(channels);
    uint64_t remaining = weight_count;
    bool enough = true;
    for (size_t i = 0; i < dilations.size() && enough; i++)
    {
        const uint64_t in_channels = i == 0 ? 1 : c;
        enough = take(remaining, 2 * c * in_channels) && take(remaining, batchnorm ? 4 * c + 1 : c);
    }
    enough = enough && take(remaining, c + 1);
    if (!enough || remaining != 0)
        throw std::runtime_error(weight_count_message);
    const int receptive_field = *std::max_element(dilations.begin(), dilations.end());

    // The input history and one stage matrix per block (plus the input stage), all as long as
    // the history grows for the warm-up's 512-sample chunks; the warm-up runs every block.
    namespace limits = load_limits;
    const uint64_t blocks = dilations.size();
    const uint64_t stages =
        limits::mul(limits::history_floats(receptive_field, 512), limits::add(2, limits::mul(blocks, c)));
    limits::check_state(limits::add(stages, limits::mul(blocks, limits::layer_state_overhead)), "ConvNet");
    limits::check_warm_up(limits::warm_up_samples(1 + dilation_sum, 512),
                          limits::add(weight_count, limits::mul(limits::layer_overhead, blocks + 1)), "ConvNet");
    return receptive_field;
}

// A channel whose batch normalisation is not finite turns every sample into NaN or infinity.
// The scale is finite only where variance + epsilon is positive (and not so small that it overflows).
void check_batchnorm(const ConvNetBlock& block, size_t index)
{
    for (Eigen::Index r = 0; r < block.batchnorm_scale.size(); r++)
    {
        const float scale = block.batchnorm_scale(r), shift = block.batchnorm_shift(r);
        if (std::isfinite(scale) && std::isfinite(shift))
            continue;
        std::ostringstream values;
        values << "a scale of " << scale << " and a shift of " << shift;
        throw std::runtime_error("Invalid ConvNet: the batch normalisation of block " + std::to_string(index)
                                 + ", channel " + std::to_string(r) + " has " + values.str()
                                 + ": variance + epsilon must be positive, and weight / sqrt(variance + "
                                   "epsilon) and bias - scale x mean finite");
    }
}
} // namespace

void ConvNetBlock::set_weights_(int in_channels, int out_channels, int dilation, bool batchnorm_,
                                const std::string activation_name, std::vector<float>::iterator& weights)
{
    batchnorm = batchnorm_;
    conv.set_size_(in_channels, out_channels, 2, !batchnorm, dilation);
    for (int i = 0; i < out_channels; i++)
        for (int j = 0; j < in_channels; j++)
            for (size_t k = 0; k < conv.taps.size(); k++)
                conv.taps[k](i, j) = *(weights++);
    for (Eigen::Index i = 0; i < conv.bias.size(); i++)
        conv.bias(i) = *(weights++);

    if (batchnorm)
    {
        const auto means = weights;
        const auto variances = means + out_channels;
        const auto gains = variances + out_channels;
        const auto biases = gains + out_channels;
        weights = biases + out_channels;
        const float epsilon = *(weights++);
        batchnorm_scale.resize(out_channels);
        batchnorm_shift.resize(out_channels);
        for (int r = 0; r < out_channels; r++)
        {
            batchnorm_scale(r) = gains[r] / std::sqrt(variances[r] + epsilon);
            batchnorm_shift(r) = biases[r] - batchnorm_scale(r) * means[r];
        }
    }
    else
    {
        batchnorm_scale.resize(0);
        batchnorm_shift.resize(0);
    }
    activation = activations::Activation::get_activation(activation_name);
}

ConvNet::ConvNet(int channels, const std::vector<int>& dilations, bool batchnorm, const std::string& activation,
                 std::vector<float>& weights, double expected_sample_rate_)
    : Buffer(checked_receptive_field(channels, dilations, batchnorm, activation, weights.size()),
             expected_sample_rate_)
{
    blocks.resize(dilations.size());
    auto it = weights.begin();
    for (size_t i = 0; i < blocks.size(); i++)
    {
        blocks[i].set_weights_(i == 0 ? 1 : channels, channels, dilations[i], batchnorm, activation, it);
        check_batchnorm(blocks[i], i);
    }
    stage_signals.resize(blocks.size() + 1);
    std::fill(input_buffer.begin(), input_buffer.end(), 0.0f);
    head_weight.resize(channels);
    for (int i = 0; i < channels; i++)
        head_weight(i) = *(it++);
    head_bias = *(it++);
    // The count was checked up front; this only guards the reading code above.
    if (it != weights.end())
        throw std::runtime_error(weight_count_message);
    int64_t sum = 1;
    for (const int d : dilations)
        sum += d;
    prewarm_samples = static_cast<int32_t>(sum);
}

void ConvNet::_update_buffers_(float* input, int num_frames)
{
    // A growth of the history clears every stage through history_cleared_().
    Buffer::_update_buffers_(input, num_frames);
    fit_stages_(false);
}

void ConvNet::history_cleared_() { fit_stages_(true); }

void ConvNet::fit_stages_(bool clear)
{
    const Eigen::Index columns = static_cast<Eigen::Index>(input_buffer.size());
    for (size_t k = 0; k < stage_signals.size(); k++)
    {
        const Eigen::Index rows = stage_rows_(k);
        Eigen::MatrixXf& stage = stage_signals[k];
        if (stage.rows() != rows || stage.cols() < columns)
            stage.setZero(rows, columns);
        else if (clear)
            stage.setZero();
    }
}

void ConvNet::_rewind_buffers_()
{
    const Eigen::Index offset = static_cast<Eigen::Index>(input_buffer_offset);
    const Eigen::Index field = receptive_field;
    // Every stage but the last keeps the dilation's worth of columns that its reader looks back.
    for (size_t k = 0; k + 1 < stage_signals.size(); k++)
    {
        Eigen::MatrixXf& stage = stage_signals[k];
        const Eigen::Index d = blocks[k].conv.dilation;
        if (d <= 0 || stage.rows() == 0 || stage.cols() < offset)
            continue;
        for (Eigen::Index i = 0; i < d; i++)
            stage.col(field - d + i) = stage.col(offset - d + i);
    }
    Buffer::_rewind_buffers_();
}

bool ConvNet::stage_holds_window_(size_t k, int64_t offset) const
{
    const Eigen::MatrixXf& stage = stage_signals[k];
    const int64_t columns = static_cast<int64_t>(input_buffer.size());
    return stage.rows() == stage_rows_(k) && stage.cols() >= columns && offset >= blocks[k].conv.dilation
           && offset <= columns;
}

void ConvNet::remember_state()
{
    Buffer::remember_state();
    const int64_t offset = input_buffer_offset;
    for (size_t k = 0; k < blocks.size(); k++)
    {
        const int64_t d = blocks[k].conv.dilation;
        // A stage not in use yet reads as the zeros it will be made of.
        const bool holds = stage_holds_window_(k, offset);
        state_copy_.keep(holds ? stage_signals[k].data() + (offset - d) * stage_rows_(k) : nullptr, stage_rows_(k) * d);
    }
}

void ConvNet::restore_state()
{
    if (!state_copy_.kept())
        return;
    StateCopy::Reader reader(state_copy_);
    const bool history_fits = put_back_history_(reader);
    const int64_t offset = input_buffer_offset;
    for (size_t k = 0; k < blocks.size(); k++)
    {
        const int64_t d = blocks[k].conv.dilation;
        Eigen::MatrixXf& stage = stage_signals[k];
        const bool holds = history_fits && stage_holds_window_(k, offset);
        reader.put_back(holds ? stage.data() + (offset - d) * stage_rows_(k) : nullptr, stage_rows_(k) * d);
        // With the history cleared, so is every stage.
        if (!history_fits)
            stage.setZero();
    }
}

void ConvNet::process(float* input, float* output, int num_frames)
{
    _update_buffers_(input, num_frames);
    if (num_frames <= 0)
        return;
    const Eigen::Index n = num_frames;
    const Eigen::Index s = static_cast<Eigen::Index>(input_buffer_offset);

    stage_signals[0].row(0).segment(s, n) =
        Eigen::Map<const Eigen::RowVectorXf>(input_buffer.data() + s, n);
    for (size_t b = 0; b < blocks.size(); b++)
    {
        const ConvNetBlock& block = blocks[b];
        Eigen::MatrixXf& out = stage_signals[b + 1];
        block.conv.process_(stage_signals[b], out, s, n, s);
        auto columns = out.middleCols(s, n);
        if (block.batchnorm)
        {
            columns.array().colwise() *= block.batchnorm_scale.array();
            columns.array().colwise() += block.batchnorm_shift.array();
        }
        block.activation->apply(columns);
    }

    if (head_result.size() < n)
        head_result.resize(n);
    auto result = head_result.head(n);
    result.noalias() = stage_signals.back().middleCols(s, n).transpose() * head_weight;
    result.array() += head_bias;
    Eigen::Map<Eigen::VectorXf>(output, n) = result;
    input_buffer_offset += num_frames;
}

} // namespace convnet
} // namespace kep
