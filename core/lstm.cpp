#include "core/lstm.h"

#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "core/load_limits.h"
#include "core/ordered_products.h"
#include "core/vector_math.h"

namespace kep
{
namespace lstm
{

namespace
{
// Takes a * b weights from remaining; false when fewer remain. Never overflows.
bool take(uint64_t& remaining, uint64_t a, uint64_t b)
{
    if (a != 0 && b > remaining / a)
        return false;
    remaining -= a * b;
    return true;
}

// Checks the configuration and that the weights suffice, before anything is sized.
void check_config(int num_layers, int input_size, int hidden_size, size_t weight_count)
{
    if (input_size != 1)
        throw std::runtime_error("Invalid LSTM: \"input_size\" must be 1 (got " + std::to_string(input_size) + ")");
    if (hidden_size < 0)
        throw std::runtime_error("Invalid LSTM: \"hidden_size\" must not be negative (got "
                                 + std::to_string(hidden_size) + ")");
    // Cells of width 0 take no weights, so nothing else would bound their number.
    if (num_layers > 0 && hidden_size == 0)
        throw std::runtime_error("Invalid LSTM: \"hidden_size\" must be positive when \"num_layers\" is 1 or more (got "
                                 "hidden_size 0 with num_layers " + std::to_string(num_layers) + ")");
    const uint64_t h = static_cast<uint64_t>(hidden_size);
    uint64_t remaining = weight_count;
    bool enough = true;
    if (num_layers > 0)
    {
        // First cell: 4H x (I + H) gate weights, 4H biases, H hidden and H cell values.
        enough = take(remaining, 4 * h, static_cast<uint64_t>(input_size) + h) && take(remaining, 6, h);
        // Each further cell: 4H x 2H gate weights and 6H more.
        const uint64_t further = static_cast<uint64_t>(num_layers) - 1;
        enough = enough && (further == 0 || (take(remaining, 8 * h, h) && take(remaining, 6, h)));
        if (enough && further > 1 && h != 0)
        {
            // What the other further - 1 cells need, without overflow: each needs per_cell.
            const uint64_t per_cell = 8 * h * h + 6 * h;
            enough = take(remaining, per_cell, further - 1);
        }
    }
    enough = enough && take(remaining, 1, h + 1);
    if (!enough)
        throw std::runtime_error("Invalid LSTM: the model file has fewer weights than num_layers "
                                 + std::to_string(num_layers) + ", input_size " + std::to_string(input_size)
                                 + " and hidden_size " + std::to_string(hidden_size) + " need");
}
} // namespace

LSTMCell::LSTMCell(int input_size_, int hidden_size_, std::vector<float>::iterator& weights)
{
    const Eigen::Index x = input_size_;
    const Eigen::Index h = hidden_size_;
    gate_weights.resize(4 * h, x + h);
    gate_biases.resize(4 * h);
    input_and_hidden.setZero(x + h);
    gate_values.setZero(4 * h);
    cell_state.resize(h);
    cell_activation.setZero(h);
    for (Eigen::Index r = 0; r < gate_weights.rows(); r++)
        for (Eigen::Index c = 0; c < gate_weights.cols(); c++)
            gate_weights(r, c) = *(weights++);
    for (Eigen::Index i = 0; i < 4 * h; i++)
        gate_biases(i) = *(weights++);
    for (Eigen::Index i = 0; i < h; i++)
        input_and_hidden(x + i) = *(weights++);
    for (Eigen::Index i = 0; i < h; i++)
        cell_state(i) = *(weights++);
}

void LSTMCell::process_(const Eigen::VectorXf& x)
{
    const Eigen::Index h = hidden_size();
    const Eigen::Index in = input_size();
    input_and_hidden.head(in) = x.head(in);
    gate_values = gate_biases;
    if (!ordered_products::vector_add(gate_weights.rows(), gate_weights.cols(), gate_weights.data(),
                                      input_and_hidden.data(), gate_values.data()))
        gate_values.noalias() += gate_weights * input_and_hidden;

    // The gates' nonlinearities, each over a whole run of gates: sigmoid for the input and forget
    // gates, tanh for the cell candidate, sigmoid for the output gate.
    float* gates = gate_values.data();
    vector_math::sigmoid(gates, 2 * h);
    vector_math::tanh(gates + 2 * h, h);
    vector_math::sigmoid(gates + 3 * h, h);
    float* cell = cell_state.data();
    float* activated = cell_activation.data();
    for (Eigen::Index k = 0; k < h; k++)
    {
        const float c = gates[h + k] * cell[k] + gates[k] * gates[2 * h + k];
        cell[k] = c;
        activated[k] = c;
    }
    vector_math::tanh(activated, h);
    float* hidden = input_and_hidden.data() + in;
    for (Eigen::Index k = 0; k < h; k++)
        hidden[k] = gates[3 * h + k] * activated[k];
}

LSTM::LSTM(int num_layers, int input_size, int hidden_size, std::vector<float>& weights, double expected_sample_rate_)
    : DSP(expected_sample_rate_)
{
    check_config(num_layers, input_size, hidden_size, weights.size());
    {
        // The warm-up's length comes from the file's sample rate, not from the weights.
        namespace limits = load_limits;
        const uint64_t h = static_cast<uint64_t>(hidden_size);
        const uint64_t cells = num_layers > 0 ? static_cast<uint64_t>(num_layers) : 0;
        uint64_t per_sample = limits::add(limits::add(h, 1), limits::mul(limits::layer_overhead, cells + 1));
        if (cells > 0)
        {
            const uint64_t first = limits::add(limits::mul(4 * h, static_cast<uint64_t>(input_size) + h), 4 * h);
            const uint64_t further = limits::add(limits::mul(8 * h, h), 4 * h);
            per_sample = limits::add(per_sample, limits::add(first, limits::mul(cells - 1, further)));
        }
        limits::check_warm_up(limits::warm_up_samples(LSTM::PrewarmSamples(), max_buffer_size), per_sample, "LSTM");
    }
    input.setZero(1);
    auto it = weights.begin();
    if (num_layers > 0)
    {
        layers.reserve(static_cast<size_t>(num_layers));
        layers.emplace_back(input_size, hidden_size, it);
        for (int i = 1; i < num_layers; i++)
            layers.emplace_back(hidden_size, hidden_size, it);
    }
    head_weight.resize(hidden_size);
    for (int i = 0; i < hidden_size; i++)
        head_weight(i) = *(it++);
    head_bias = *(it++);
    hidden_copy_.setZero(hidden_size);
}

void LSTM::process(float* in, float* out, int num_frames)
{
    if (layers.empty())
    {
        for (int s = 0; s < num_frames; s++)
            out[s] = in[s];
        return;
    }
    const Eigen::Index h = head_weight.size();
    for (int s = 0; s < num_frames; s++)
    {
        input(0) = in[s];
        layers[0].process_(input);
        for (size_t l = 1; l < layers.size(); l++)
        {
            hidden_copy_ = layers[l - 1].input_and_hidden.tail(h);
            layers[l].process_(hidden_copy_);
        }
        out[s] = head_weight.dot(layers.back().input_and_hidden.tail(h)) + head_bias;
    }
}

void LSTM::remember_state()
{
    state_copy_.start();
    for (const LSTMCell& cell : layers)
    {
        state_copy_.keep(cell.input_and_hidden.data() + cell.input_size(), cell.hidden_size());
        state_copy_.keep(cell.cell_state.data(), cell.hidden_size());
    }
}

void LSTM::restore_state()
{
    if (!state_copy_.kept())
        return;
    StateCopy::Reader reader(state_copy_);
    for (LSTMCell& cell : layers)
    {
        reader.put_back(cell.input_and_hidden.data() + cell.input_size(), cell.hidden_size());
        reader.put_back(cell.cell_state.data(), cell.hidden_size());
    }
}

int LSTM::PrewarmSamples()
{
    const double half = expected_sample_rate * 0.5;
    // Out of the 32-bit range (or NaN) counts as no usable rate.
    if (!(half > -2147483649.0 && half < 2147483648.0))
        return 1;
    const int32_t v = static_cast<int32_t>(half);
    return v >= 2 ? v : 1;
}

} // namespace lstm
} // namespace kep
