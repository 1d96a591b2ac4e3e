// Baseline x86-64 kernels: 4 lanes in SSE2 registers.
#include "core/vector_math_kernels.h"
#include "core/vector_math_lanes.h"

namespace kep
{
namespace vector_math
{
namespace kernels
{

void tanh_sse2(float* data, long size)
{
    for_groups<4>(data, size, [](Lanes<4>::F x) __attribute__((always_inline)) { return tanhf_lanes<4>(x); });
}

void exp_sse2(float* data, long size)
{
    for_groups<4>(data, size, [](Lanes<4>::F x) __attribute__((always_inline)) { return expf_lanes<4, false>(x); });
}

void sigmoid_sse2(float* data, long size)
{
    for_groups<4>(data, size, [](Lanes<4>::F x) __attribute__((always_inline)) { return 1.0f / (expf_lanes<4, false>(-x) + 1.0f); });
}

} // namespace kernels
} // namespace vector_math
} // namespace kep
