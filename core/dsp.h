#pragma once

#include <cstdint>
#include <stdexcept>
#include <vector>

#include "core/state_copy.h"

namespace kep
{

// Base of every neural model: turns a block of mono samples into as many output samples.
// Models are built and warmed up on a loading thread, then run on the audio thread only.
class DSP
{
public:
    explicit DSP(double expected_sample_rate);
    virtual ~DSP() = default;

    // Runs the model on PrewarmSamples() samples of silence, in chunks of max_buffer_size.
    // Throws NonFiniteWarmUp at the first chunk that puts out a NaN or an infinity.
    virtual void prewarm();
    // input and output are distinct arrays of num_frames samples. The base copies input to output.
    virtual void process(float* input, float* output, int num_frames);
    // Records the host's rate and block size; clears no state.
    virtual void Reset(double sample_rate, int max_buffer_size);
    virtual int PrewarmSamples() { return 0; }

    // Keeps a copy of the state that the next block reads (input history, recurrent state and
    // the positions in the histories), so that restore_state() can bring the model back to this
    // moment. get_dsp calls it once the model is warmed up. Loading thread; may allocate.
    virtual void remember_state() {}
    // Brings the model back to the state that remember_state() kept: the same input then gives
    // bit-identical output to what it gave at that moment. Allocates nothing and takes no lock
    // (the audio thread calls it). Without a remembered state it changes nothing.
    virtual void restore_state() {}

    bool has_loudness = false;
    double loudness = 0.0;
    double expected_sample_rate;
    bool has_host_sample_rate = false;
    double host_sample_rate = -1.0;
    int32_t max_buffer_size = 512;
    bool has_input_level = false;
    float input_level_dbu = 0.0f;
    bool has_output_level = false;
    float output_level_dbu = 0.0f;
};

// A model that answers silence with a NaN or an infinity can never play: prewarm() refuses it.
class NonFiniteWarmUp : public std::runtime_error
{
public:
    NonFiniteWarmUp(int64_t sample, float value);
};

// A model that looks back over a fixed number of past input samples. Keeps a growing input
// history (32 blocks' worth) and rewinds it to the front when it runs out of room. The history's
// size (input_buffer.size()) is part of the model's state: it decides when a block grows (and
// clears) the history and where the history rewinds, so restore_state() puts it back as well.
class Buffer : public DSP
{
public:
    // Throws std::runtime_error for a negative receptive field (nothing is allocated then).
    Buffer(int receptive_field, double expected_sample_rate);

    // Appends the block to the history; grows (and clears) or rewinds it first when needed.
    // Does not advance input_buffer_offset: the subclass's process does that last.
    virtual void _update_buffers_(float* input, int num_frames);
    virtual void _rewind_buffers_();

    // Sizes the history for blocks of up to num_frames samples exactly as the first such block
    // would (a growth clears it), so that such blocks later find it large enough and never
    // reallocate it. Lets a model that is not warmed up be made ready off the audio thread.
    // A growth after remember_state() and before the next block belongs to the remembered
    // moment: the state is kept again (cleared, at the new size), as a fresh model has it.
    // The history reallocates only beyond the largest size it ever had.
    void reserve_history(int num_frames);

    // Keeps the history's size, the offset and the receptive field's worth of history before
    // it: what a rewind keeps, and all that a Linear model reads of the past (it reads the
    // newest receptive_field - 1). restore_state() gives the history back its kept size
    // without reallocating (a larger history, grown since, keeps its capacity), so that the
    // next blocks grow, clear and rewind it exactly where they did after remember_state().
    void remember_state() override;
    void restore_state() override;

    int32_t receptive_field;
    int64_t input_buffer_offset;
    std::vector<float> input_buffer;

protected:
    // The history's part of restore_state, for models that keep more after it in state_copy_:
    // its kept size and window, and the offset. The history's capacity only grows (and a growth
    // keeps the offset), so it always takes the kept size and holds the kept window; should it
    // not, it is cleared and the offset goes back to the receptive field, as in a new model, and
    // the result is false.
    bool put_back_history_(StateCopy::Reader& reader);

    // Called by reserve_history() right after a growth cleared the history: a model that keeps
    // state beside the history clears it too. May allocate (it runs where the growth does).
    virtual void history_cleared_() {}

    StateCopy state_copy_;

private:
    bool holds_window_(int64_t offset) const;

    int64_t kept_offset_ = 0;
    size_t kept_size_ = 0;
    // True from remember_state() until the next block: a growth then belongs to the kept state.
    bool at_kept_moment_ = false;
};

} // namespace kep
