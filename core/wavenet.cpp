#include "core/wavenet.h"

#include <limits>
#include <stdexcept>
#include <string>

#include "core/load_limits.h"

namespace kep
{
namespace wavenet
{

namespace
{

// Weight and receptive-field arithmetic on untrusted sizes saturates instead of wrapping, so an
// absurd config shows up as "too large" rather than as a small number.
using load_limits::add;
using load_limits::mul;

int64_t to_int64(uint64_t value)
{
    return value > static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? std::numeric_limits<int64_t>::max()
                                                                              : static_cast<int64_t>(value);
}

int gate_rows(const LayerArrayParams& p) { return p.gated ? 2 * p.channels : p.channels; }

// Receptive field of an array: 1 + the columns of history that its layers read.
uint64_t receptive_field_of(const LayerArrayParams& p)
{
    uint64_t field = 1;
    for (int d : p.dilations)
        field = add(field, mul(static_cast<uint64_t>(d), static_cast<uint64_t>(p.kernel_size - 1)));
    return field;
}

// Weights that one array consumes, in the order set_weights_ reads them.
uint64_t weight_count_of(const LayerArrayParams& p)
{
    const uint64_t C = static_cast<uint64_t>(p.channels), G = static_cast<uint64_t>(gate_rows(p));
    const uint64_t I = static_cast<uint64_t>(p.input_size), S = static_cast<uint64_t>(p.condition_size);
    const uint64_t H = static_cast<uint64_t>(p.head_size), K = static_cast<uint64_t>(p.kernel_size);
    uint64_t per_layer = mul(mul(G, C), K); // conv taps
    per_layer = add(per_layer, G);                      // conv bias
    per_layer = add(per_layer, mul(G, S));   // condition mixer
    per_layer = add(per_layer, add(mul(C, C), C)); // output mixer
    uint64_t count = mul(C, I); // input projection
    count = add(count, mul(per_layer, p.dilations.size()));
    count = add(count, mul(H, C));
    if (p.head_bias)
        count = add(count, H);
    return count;
}

std::string array_name(size_t a) { return "WaveNet layer array " + std::to_string(a) + ": "; }

// Refuses what the matrices cannot take; raised before anything of the array is sized.
void check_array(const std::vector<LayerArrayParams>& params, size_t a)
{
    const LayerArrayParams& p = params[a];
    const std::string where = array_name(a);
    if (a == 0 && p.input_size != 1)
        throw std::runtime_error(where + "\"input_size\" must be 1 (got " + std::to_string(p.input_size) + ")");
    if (a > 0 && p.input_size != params[a - 1].channels)
        throw std::runtime_error(where + "\"input_size\" (" + std::to_string(p.input_size)
                                 + ") must equal the channels of the preceding layer array ("
                                 + std::to_string(params[a - 1].channels) + ")");
    if (p.condition_size != 1)
        throw std::runtime_error(where + "\"condition_size\" must be 1 (got " + std::to_string(p.condition_size) + ")");
    if (p.channels < 1)
        throw std::runtime_error(where + "\"channels\" must be at least 1 (got " + std::to_string(p.channels) + ")");
    if (p.kernel_size < 1)
        throw std::runtime_error(where + "\"kernel_size\" must be at least 1 (got " + std::to_string(p.kernel_size) + ")");
    if (p.head_size < 1)
        throw std::runtime_error(where + "\"head_size\" must be at least 1 (got " + std::to_string(p.head_size) + ")");
    if (p.gated && p.channels > std::numeric_limits<int>::max() / 2)
        throw std::runtime_error(where + "\"channels\" is too large for a gated layer (" + std::to_string(p.channels) + ")");
    for (size_t i = 0; i < p.dilations.size(); i++)
        if (p.dilations[i] < 0)
            throw std::runtime_error(where + "dilation " + std::to_string(i) + " is negative ("
                                     + std::to_string(p.dilations[i]) + ")");
    if (activations::Activation::get_activation(p.activation) == nullptr)
        throw std::runtime_error(where + "unknown activation \"" + p.activation + "\"");
}

std::string block_too_long_message(int64_t n, int64_t receptive_field)
{
    return "Asked to accept a buffer of " + std::to_string(n) + " samples, but the buffer is too short ("
           + std::to_string(LAYER_BUFFER_SIZE) + ") to get out of the recptive field ("
           + std::to_string(receptive_field) + "); copy errors could occur!\n";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// _Layer

_Layer::_Layer(int condition_size, int channels, int kernel_size, int dilation, activations::Activation* activation_,
               bool gated_)
    : condition_mixer(condition_size, gated_ ? 2 * channels : channels, false),
      output_mixer(channels, channels, true),
      activation(activation_),
      gated(gated_),
      sources_(static_cast<size_t>(kernel_size) + 1)
{
    const int rows = gated_ ? 2 * channels : channels;
    conv.set_size_(channels, rows, kernel_size, true, dilation);
    layer_work.resize(rows, 0);
    sigmoid_ = activations::Activation::get_activation("Sigmoid");
}

void _Layer::set_weights_(std::vector<float>::iterator& weights)
{
    const long rows = conv.get_out_channels(), cols = conv.get_in_channels(), taps = conv.get_kernel_size();
    for (long r = 0; r < rows; r++)
        for (long c = 0; c < cols; c++)
            for (long k = 0; k < taps; k++)
                conv.taps[static_cast<size_t>(k)](r, c) = *(weights++);
    for (long r = 0; r < conv.bias.size(); r++)
        conv.bias(r) = *(weights++);
    condition_mixer.set_weights_(weights);
    output_mixer.set_weights_(weights);
}

void _Layer::process_(const Eigen::MatrixXf& input, long input_start, const Eigen::MatrixXf& condition,
                      Eigen::MatrixXf& head_sum, Eigen::MatrixXf& output, long output_start, long count)
{
    if (count <= 0)
        return;
    const long channels = get_channels();
    const long rows = layer_work.rows();
    const long taps = get_kernel_size();

    // Dilated convolution, its bias and the condition mix, in one pass over the block.
    for (long k = 0; k < taps; k++)
    {
        const long column = input_start + static_cast<long>(conv.dilation) * (k + 1 - taps);
        sources_[static_cast<size_t>(k)] = {conv.taps[static_cast<size_t>(k)].data(), channels,
                                            input.data() + column * channels, channels};
    }
    sources_[static_cast<size_t>(taps)] = {condition_mixer.weight.data(), condition_mixer.weight.cols(),
                                           condition.data(), condition.rows()};
    float* work = layer_work.data();
    mix_columns(rows, count, sources_.data(), sources_.size(), conv.bias.data(), nullptr, 0, work, rows);

    if (gated)
    {
        for (long j = 0; j < count; j++)
        {
            float* column = work + j * rows;
            activation->apply(column, channels);
            sigmoid_->apply(column + channels, channels);
            for (long r = 0; r < channels; r++)
                column[r] *= column[channels + r];
        }
    }
    else
        activation->apply(work, rows * count);

    head_sum.leftCols(count) += layer_work.topLeftCorner(channels, count);

    // Residual connection: output = input + output_mixer(activated).
    const ColumnSource mixed{output_mixer.weight.data(), channels, work, rows};
    mix_columns(channels, count, &mixed, 1, output_mixer.bias.data(), input.data() + input_start * channels, channels,
                output.data() + output_start * output.rows(), output.rows());
}

// ---------------------------------------------------------------------------------------------
// _LayerArray

_LayerArray::_LayerArray(const LayerArrayParams& p)
    : input_projection(p.input_size, p.channels, false), head_projection(p.channels, p.head_size, p.head_bias)
{
    activations::Activation* activation = activations::Activation::get_activation(p.activation);
    layers.reserve(p.dilations.size());
    for (int dilation : p.dilations)
        layers.emplace_back(p.condition_size, p.channels, p.kernel_size, dilation, activation, p.gated);
    const int64_t receptive_field = _get_receptive_field();
    layer_buffers.reserve(layers.size());
    for (size_t i = 0; i < layers.size(); i++)
        layer_buffers.push_back(Eigen::MatrixXf::Zero(p.channels, LAYER_BUFFER_SIZE + receptive_field - 1));
    buffer_start = receptive_field - 1;
}

void _LayerArray::set_weights_(std::vector<float>::iterator& weights)
{
    input_projection.set_weights_(weights);
    for (auto& layer : layers)
        layer.set_weights_(weights);
    head_projection.set_weights_(weights);
}

int64_t _LayerArray::_get_receptive_field() const
{
    int64_t field = 1;
    for (const auto& layer : layers)
        field += layer.history();
    return field;
}

void _LayerArray::rewind_if_needed_(long count)
{
    if (layer_buffers.empty() || buffer_start + count <= layer_buffers[0].cols())
        return;
    const int64_t front = _get_receptive_field() - 1;
    for (size_t i = 0; i < layers.size(); i++)
    {
        // Each buffer keeps exactly the history that its own layer reads.
        const int64_t d = layers[i].history();
        if (d > 0)
            layer_buffers[i].middleCols(front - d, d) = layer_buffers[i].middleCols(buffer_start - d, d);
    }
    buffer_start = front;
}

bool _LayerArray::holds_windows_(int64_t start) const
{
    for (size_t i = 0; i < layers.size(); i++)
    {
        const Eigen::MatrixXf& buffer = layer_buffers[i];
        if (buffer.rows() != get_channels() || start < layers[i].history() || start > buffer.cols())
            return false;
    }
    return true;
}

void _LayerArray::keep_state_(StateCopy& copy)
{
    kept_start_ = buffer_start;
    const bool holds = holds_windows_(kept_start_);
    for (size_t i = 0; i < layers.size(); i++)
    {
        const int64_t d = layers[i].history();
        copy.keep(holds ? layer_buffers[i].data() + (kept_start_ - d) * get_channels() : nullptr, get_channels() * d);
    }
}

void _LayerArray::put_back_state_(StateCopy::Reader& reader)
{
    const bool fits = holds_windows_(kept_start_);
    for (size_t i = 0; i < layers.size(); i++)
    {
        const int64_t d = layers[i].history();
        reader.put_back(fits ? layer_buffers[i].data() + (kept_start_ - d) * get_channels() : nullptr,
                        get_channels() * d);
        if (!fits)
            layer_buffers[i].setZero();
    }
    buffer_start = fits ? kept_start_ : _get_receptive_field() - 1;
}

void _LayerArray::process_(const Eigen::MatrixXf& array_input, const Eigen::MatrixXf& condition,
                           Eigen::MatrixXf& head_sum, Eigen::MatrixXf& array_output, Eigen::MatrixXf& head_output,
                           long count)
{
    if (count <= 0)
        return;
    if (layers.empty())
    {
        // Nothing between the projections: the array passes its projected input on.
        input_projection.process_(array_input, 0, count, array_output, 0);
    }
    else
    {
        const long start = static_cast<long>(buffer_start);
        input_projection.process_(array_input, 0, count, layer_buffers[0], start);
        for (size_t i = 0; i < layers.size(); i++)
        {
            if (i + 1 < layers.size())
                layers[i].process_(layer_buffers[i], start, condition, head_sum, layer_buffers[i + 1], start, count);
            else
                layers[i].process_(layer_buffers[i], start, condition, head_sum, array_output, 0, count);
        }
    }
    head_projection.process_(head_sum, 0, count, head_output, 0);
}

void _LayerArray::process_(const Eigen::MatrixXf& array_input, const Eigen::MatrixXf& condition,
                           Eigen::MatrixXf& head_sum, Eigen::MatrixXf& array_output, Eigen::MatrixXf& head_output)
{
    process_(array_input, condition, head_sum, array_output, head_output, array_input.cols());
}

// ---------------------------------------------------------------------------------------------
// WaveNet

WaveNet::WaveNet(const std::vector<LayerArrayParams>& params, float head_scale_, bool with_head,
                 std::vector<float>& weights, double expected_sample_rate_)
    : DSP(expected_sample_rate_), head_scale(head_scale_)
{
    if (with_head)
        throw std::runtime_error("Head not implemented!");
    if (params.empty())
        throw std::runtime_error("WaveNet config has no layer arrays (\"layers\" is absent, null or empty)");

    // Everything is checked, and the weights counted, before a single matrix is sized.
    uint64_t needed = 1; // the head scale
    for (size_t a = 0; a < params.size(); a++)
    {
        if (a > 0 && params[a].channels != params[a - 1].head_size)
            throw std::runtime_error("channels of layer " + std::to_string(a) + " (" + std::to_string(params[a].channels)
                                     + ") doesn't match head_size of preceding layer ("
                                     + std::to_string(params[a - 1].head_size) + "!\n");
        check_array(params, a);
        needed = add(needed, weight_count_of(params[a]));
    }
    const uint64_t provided = weights.size();
    if (needed > provided)
        throw std::runtime_error("Weight mismatch: provided " + std::to_string(provided)
                                 + " weights, but the model expects more.");
    if (needed < provided)
        throw std::runtime_error("Weight mismatch: assigned " + std::to_string(needed) + " weights, but "
                                 + std::to_string(provided) + " were provided.");

    // The warm-up runs blocks of max_buffer_size samples: an array whose history leaves no room
    // for them would fail there, so it is refused now, before its buffers are allocated.
    uint64_t warm_up = 1;
    for (const auto& p : params)
    {
        const uint64_t field = receptive_field_of(p);
        if (static_cast<uint64_t>(LAYER_BUFFER_SIZE - max_buffer_size) < field)
            throw std::runtime_error(block_too_long_message(max_buffer_size, to_int64(field)));
        warm_up += field - 1;
    }
    if (warm_up > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
        throw std::runtime_error("WaveNet receptive field too long (" + std::to_string(warm_up) + " samples)");

    // The layer buffers (65536 + RF - 1 columns each) and the work matrices sized for the
    // warm-up's chunks; the warm-up runs every layer of every array.
    {
        namespace limits = load_limits;
        const uint64_t columns = static_cast<uint64_t>(max_buffer_size);
        uint64_t state = columns; // the condition
        uint64_t per_sample = 0;
        for (const auto& p : params)
        {
            const uint64_t layers = p.dilations.size();
            const uint64_t C = static_cast<uint64_t>(p.channels);
            const uint64_t buffer = limits::mul(C, LAYER_BUFFER_SIZE + receptive_field_of(p) - 1);
            const uint64_t work = limits::mul(static_cast<uint64_t>(gate_rows(p)), columns);
            const uint64_t per_layer = limits::add(limits::add(buffer, work), limits::layer_state_overhead);
            state = limits::add(state, limits::mul(layers, per_layer));
            state = limits::add(state, limits::mul(C + static_cast<uint64_t>(p.head_size), columns));
            per_sample = limits::add(per_sample, limits::add(weight_count_of(p),
                                                             limits::mul(limits::layer_overhead, layers + 1)));
        }
        limits::check_state(state, "WaveNet");
        limits::check_warm_up(limits::warm_up_samples(static_cast<int64_t>(warm_up), max_buffer_size), per_sample,
                              "WaveNet");
    }

    layer_arrays.reserve(params.size());
    head_arrays.push_back(Eigen::MatrixXf(params[0].channels, 0));
    for (const auto& p : params)
    {
        layer_arrays.emplace_back(p);
        layer_array_outputs.push_back(Eigen::MatrixXf(p.channels, 0));
        head_arrays.push_back(Eigen::MatrixXf(p.head_size, 0));
    }
    condition.resize(_get_condition_dim(), 0);

    auto it = weights.begin();
    for (auto& array : layer_arrays)
        array.set_weights_(it);
    head_scale = *(it++);

    prewarm_samples = static_cast<int32_t>(warm_up);
    // Sized once for the warm-up's blocks, which are also the longest the host passes: changes
    // of block length up to this size then never reallocate on the audio thread.
    reserve_columns_(max_buffer_size);
}

void WaveNet::reserve_columns_(int64_t columns)
{
    if (condition.cols() >= columns)
        return;
    condition.resize(condition.rows(), columns);
    for (auto& m : head_arrays)
        m.resize(m.rows(), columns);
    for (auto& m : layer_array_outputs)
        m.resize(m.rows(), columns);
    for (auto& array : layer_arrays)
        for (auto& layer : array.layers)
            layer.layer_work.setZero(layer.layer_work.rows(), columns);
}

void WaveNet::remember_state()
{
    state_copy_.start();
    for (auto& array : layer_arrays)
        array.keep_state_(state_copy_);
}

void WaveNet::restore_state()
{
    if (!state_copy_.kept())
        return;
    StateCopy::Reader reader(state_copy_);
    for (auto& array : layer_arrays)
        array.put_back_state_(reader);
}

void WaveNet::_set_condition_array(float* input, int num_frames)
{
    for (int j = 0; j < num_frames; j++)
        condition(0, j) = input[j];
}

void WaveNet::process(float* input, float* output, int num_frames)
{
    if (num_frames < 0)
        return;
    const int64_t n = num_frames;
    if (n != block_size)
    {
        // Every array is checked before anything changes: a refused length leaves the model as it was.
        for (const auto& array : layer_arrays)
        {
            const int64_t field = array._get_receptive_field();
            if (LAYER_BUFFER_SIZE - n < field)
                throw std::runtime_error(block_too_long_message(n, field));
        }
        reserve_columns_(n); // reallocates only for blocks longer than every earlier one (and 512)
        block_size = n;
    }
    for (auto& array : layer_arrays)
        array.rewind_if_needed_(num_frames);
    _set_condition_array(input, num_frames);
    head_arrays[0].leftCols(num_frames).setZero();
    for (size_t a = 0; a < layer_arrays.size(); a++)
    {
        const Eigen::MatrixXf& array_input = a == 0 ? condition : layer_array_outputs[a - 1];
        layer_arrays[a].process_(array_input, condition, head_arrays[a], layer_array_outputs[a], head_arrays[a + 1],
                                 num_frames);
    }
    const Eigen::MatrixXf& head = head_arrays.back();
    for (int j = 0; j < num_frames; j++)
        output[j] = head_scale * head(0, j);
    for (auto& array : layer_arrays)
        array.buffer_start += n;
}

} // namespace wavenet
} // namespace kep
