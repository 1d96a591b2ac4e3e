#pragma once

#include <cstdint>
#include <string>

namespace kep
{

// What a model may cost while it is built and warmed up. A model file is untrusted input: sizes
// from its "config" (a dilation, a sample rate, many cheap layers) could otherwise make the
// loader allocate far more than the weights justify or warm up for hours. Each architecture
// checks its costs against these limits before it sizes anything.
//
// Both lie far above any real capture: a WaveNet of 20 layers with 16 channels and a kernel of 3
// keeps about 90 MB of state and warms up on about 1e8 operations; a 48 kHz LSTM with 64 cells on
// about 4e8, with 128 cells at 96 kHz on about 3.2e9. Warming up on the whole allowance takes a few
// seconds in a release build (up to about 7 s for stacks of one-cell LSTM layers).
namespace load_limits
{
// Floats of state (histories, layer buffers, work matrices): 512 MiB.
inline constexpr uint64_t max_state_floats = uint64_t{1} << 27;
// Warm-up work, counted in operations: multiply-adds plus each layer's overhead (about 4.3e9:
// an LSTM of 128 cells at 96 kHz, 3.2e9, still loads).
inline constexpr uint64_t max_warm_up_work = uint64_t{1} << 32;
// What one layer costs per sample besides its multiply-adds (loops, activations, small matrix
// products), counted as that many multiply-adds, as measured on one-channel layers; keeps stacks
// of tiny layers from passing as cheap.
inline constexpr uint64_t layer_overhead = 160;

// What one layer keeps besides its matrices (its object and small allocations), in floats;
// keeps long lists of layers without channels from passing as free.
inline constexpr uint64_t layer_state_overhead = 128;

// Levels of nesting that a reader of outside text accepts: JSON arrays and objects, XML elements
// (one without children counts as a level too). The parsers of such text, and the code that
// copies, walks or frees what they build, recurse once per level, so a linear scan counts the
// levels before any of them runs and deeper text counts as unreadable. Our own files nest at
// most 5 levels; a document at the limit is read, walked and freed on a thread with a 256 KiB
// stack.
inline constexpr int max_nesting = 64;

// Bytes of a model file that are read. A larger file, or one that is not a regular file (a link to
// a device or a pipe, whose reading never ends), is refused before it is read. Real captures take
// a few MB.
inline constexpr uint64_t max_model_file_bytes = uint64_t{1} << 28;

// Saturating arithmetic for costs computed from untrusted sizes.
uint64_t add(uint64_t a, uint64_t b);
uint64_t mul(uint64_t a, uint64_t b);

// The samples that DSP::prewarm actually runs for a warm-up of n samples: whole chunks.
uint64_t warm_up_samples(int64_t n, int64_t chunk);

// Floats of the input history of a Buffer model with that receptive field once it has taken
// blocks of up to longest_block samples (Buffer::reserve_history).
uint64_t history_floats(int64_t receptive_field, int64_t longest_block);

// Both throw std::runtime_error naming the architecture when the cost exceeds its limit.
void check_state(uint64_t floats, const std::string& architecture);
void check_warm_up(uint64_t samples, uint64_t work_per_sample, const std::string& architecture);
} // namespace load_limits

} // namespace kep
