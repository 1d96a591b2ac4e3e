#include "core/load_limits.h"

#include <limits>
#include <stdexcept>

namespace kep
{
namespace load_limits
{

uint64_t add(uint64_t a, uint64_t b)
{
    uint64_t sum;
    return __builtin_add_overflow(a, b, &sum) ? std::numeric_limits<uint64_t>::max() : sum;
}

uint64_t mul(uint64_t a, uint64_t b)
{
    uint64_t product;
    return __builtin_mul_overflow(a, b, &product) ? std::numeric_limits<uint64_t>::max() : product;
}

uint64_t warm_up_samples(int64_t n, int64_t chunk)
{
    if (n <= 0)
        return 0;
    const uint64_t c = chunk >= 2 ? static_cast<uint64_t>(chunk) : 1;
    return (static_cast<uint64_t>(n) + c - 1) / c * c;
}

uint64_t history_floats(int64_t receptive_field, int64_t longest_block)
{
    const uint64_t field = receptive_field > 0 ? static_cast<uint64_t>(receptive_field) : 0;
    const uint64_t initial = mul(32, field);
    const uint64_t minimum = add(field, mul(32, longest_block > 0 ? static_cast<uint64_t>(longest_block) : 0));
    if (initial >= minimum)
        return initial;
    uint64_t size = 2;
    while (size < minimum && size < (uint64_t{1} << 62))
        size *= 2;
    return size;
}

void check_state(uint64_t floats, const std::string& architecture)
{
    if (floats > max_state_floats)
        throw std::runtime_error("Invalid " + architecture + ": the model would need " + std::to_string(floats)
                                 + " floats of state, more than the " + std::to_string(max_state_floats)
                                 + " allowed");
}

void check_warm_up(uint64_t samples, uint64_t work_per_sample, const std::string& architecture)
{
    const uint64_t work = mul(samples, work_per_sample);
    if (work > max_warm_up_work)
        throw std::runtime_error("Invalid " + architecture + ": warming the model up would take " + std::to_string(work)
                                 + " operations (" + std::to_string(samples) + " samples), more than the "
                                 + std::to_string(max_warm_up_work) + " allowed");
}

} // namespace load_limits
} // namespace kep
