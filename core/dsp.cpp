#include "core/dsp.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>

namespace kep
{

DSP::DSP(double expected_sample_rate_) : expected_sample_rate(expected_sample_rate_) {}

void DSP::prewarm()
{
    const int n = PrewarmSamples();
    if (n == 0)
        return;
    const int chunk = max_buffer_size >= 2 ? max_buffer_size : 1;
    std::vector<float> input(static_cast<size_t>(chunk), 0.0f);
    std::vector<float> output(static_cast<size_t>(chunk), 0.0f);
    for (int64_t processed = 0; processed < n; processed += chunk)
    {
        process(input.data(), output.data(), chunk);
        const auto bad = std::find_if(output.begin(), output.end(), [](float y) { return !std::isfinite(y); });
        if (bad != output.end())
            throw NonFiniteWarmUp(processed + (bad - output.begin()), *bad);
    }
}

NonFiniteWarmUp::NonFiniteWarmUp(int64_t sample, float value)
    : std::runtime_error("its output for silence is not finite (" + std::to_string(value) + " at sample "
                         + std::to_string(sample) + " of the warm-up), so it cannot play")
{
}

void DSP::process(float* input, float* output, int num_frames)
{
    if (num_frames > 0)
        std::copy(input, input + num_frames, output);
}

void DSP::Reset(double sample_rate, int max_buffer_size_)
{
    host_sample_rate = sample_rate;
    has_host_sample_rate = true;
    max_buffer_size = max_buffer_size_;
}

namespace
{
int checked_receptive_field(int receptive_field)
{
    if (receptive_field < 0)
        throw std::runtime_error("Invalid model: the receptive field must not be negative (got "
                                 + std::to_string(receptive_field) + ")");
    return receptive_field;
}
} // namespace

Buffer::Buffer(int receptive_field_, double expected_sample_rate_)
    : DSP(expected_sample_rate_), receptive_field(checked_receptive_field(receptive_field_)),
      input_buffer_offset(receptive_field_)
{
    const int64_t size = 32 * static_cast<int64_t>(receptive_field);
    if (size != 0)
        input_buffer.assign(static_cast<size_t>(size), 0.0f);
}

void Buffer::reserve_history(int num_frames)
{
    const int64_t minimum = static_cast<int64_t>(receptive_field) + 32 * static_cast<int64_t>(num_frames);
    if (static_cast<int64_t>(input_buffer.size()) < minimum)
    {
        int64_t size = 2;
        while (size < minimum)
            size *= 2;
        // A growth clears the whole history: the model continues as if it had heard silence.
        // Within the capacity (a history restored to a smaller size) nothing is reallocated.
        input_buffer.assign(static_cast<size_t>(size), 0.0f);
        history_cleared_();
        if (at_kept_moment_)
            remember_state();
    }
}

void Buffer::_update_buffers_(float* input, int num_frames)
{
    at_kept_moment_ = false;
    reserve_history(num_frames);
    if (num_frames <= 0)
        return;
    if (input_buffer_offset + num_frames > static_cast<int64_t>(input_buffer.size()))
        _rewind_buffers_();
    std::copy(input, input + num_frames, input_buffer.begin() + input_buffer_offset);
}

void Buffer::_rewind_buffers_()
{
    // The source never lies before the destination, so a forward copy is safe.
    for (int64_t i = 0; i < receptive_field; i++)
        input_buffer[static_cast<size_t>(i)] = input_buffer[static_cast<size_t>(input_buffer_offset - receptive_field + i)];
    input_buffer_offset = receptive_field;
}

bool Buffer::holds_window_(int64_t offset) const
{
    return offset >= receptive_field && offset <= static_cast<int64_t>(input_buffer.size());
}

void Buffer::remember_state()
{
    state_copy_.start();
    at_kept_moment_ = true;
    kept_size_ = input_buffer.size();
    kept_offset_ = input_buffer_offset;
    const bool holds = holds_window_(kept_offset_);
    state_copy_.keep(holds ? input_buffer.data() + (kept_offset_ - receptive_field) : nullptr, receptive_field);
}

void Buffer::restore_state()
{
    if (!state_copy_.kept())
        return;
    StateCopy::Reader reader(state_copy_);
    put_back_history_(reader);
}

bool Buffer::put_back_history_(StateCopy::Reader& reader)
{
    // Shrinking keeps the capacity, and growing within it (never needed) allocates nothing either.
    if (kept_size_ <= input_buffer.capacity())
        input_buffer.resize(kept_size_, 0.0f);
    if (!holds_window_(kept_offset_))
    {
        reader.put_back(nullptr, receptive_field);
        std::fill(input_buffer.begin(), input_buffer.end(), 0.0f);
        input_buffer_offset = receptive_field;
        return false;
    }
    reader.put_back(input_buffer.data() + (kept_offset_ - receptive_field), receptive_field);
    input_buffer_offset = kept_offset_;
    return true;
}

} // namespace kep
