#include "core/linear.h"

#include <cstdint>
#include <stdexcept>

#include "core/load_limits.h"

namespace kep
{

namespace
{
int checked_linear_size(int receptive_field, bool bias, size_t weight_count)
{
    // Checked before the history is sized, so a malformed file cannot make us allocate a huge
    // history first.
    if (receptive_field >= 0
        && static_cast<int64_t>(receptive_field) + (bias ? 1 : 0) != static_cast<int64_t>(weight_count))
        throw std::runtime_error("Params vector does not match expected size based on architecture parameters");
    load_limits::check_state(load_limits::history_floats(receptive_field, 512), "Linear");
    return receptive_field;
}
} // namespace

Linear::Linear(int receptive_field_, bool use_bias, const std::vector<float>& weights, double expected_sample_rate_)
    : Buffer(checked_linear_size(receptive_field_, use_bias, weights.size()), expected_sample_rate_)
{
    weight.resize(receptive_field);
    for (int i = 0; i < receptive_field; i++)
        weight(i) = weights[static_cast<size_t>(receptive_field - 1 - i)];
    bias = use_bias ? weights[static_cast<size_t>(receptive_field)] : 0.0f;
}

void Linear::process(float* input, float* output, int num_frames)
{
    Buffer::_update_buffers_(input, num_frames);
    const int64_t offset = input_buffer_offset;
    for (int i = 0; i < num_frames; i++)
    {
        const int64_t start = offset + i + 1 - receptive_field;
        output[i] = bias + weight.dot(Eigen::Map<const Eigen::VectorXf>(input_buffer.data() + start, receptive_field));
    }
    input_buffer_offset += num_frames;
}

} // namespace kep
