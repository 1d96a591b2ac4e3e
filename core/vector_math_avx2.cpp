// AVX2 kernels: 8 lanes. This file alone is built with -mavx2 -mfma; it is only called after a
// run-time check of the CPU, and nothing in it has external linkage except the kernels.
#include "core/vector_math_kernels.h"
#include "core/vector_math_lanes.h"

namespace kep
{
namespace vector_math
{
namespace kernels
{

void tanh_avx2(float* data, long size)
{
    for_groups<8>(data, size, [](Lanes<8>::F x) __attribute__((always_inline)) { return tanhf_lanes<8>(x); });
}

void exp_avx2(float* data, long size)
{
    for_groups<8>(data, size, [](Lanes<8>::F x) __attribute__((always_inline)) { return expf_lanes<8, false>(x); });
}

void sigmoid_avx2(float* data, long size)
{
    for_groups<8>(data, size, [](Lanes<8>::F x) __attribute__((always_inline)) { return 1.0f / (expf_lanes<8, false>(-x) + 1.0f); });
}

void exp_avx2_fma(float* data, long size)
{
    for_groups<8>(data, size, [](Lanes<8>::F x) __attribute__((always_inline)) { return expf_lanes<8, true>(x); });
}

void sigmoid_avx2_fma(float* data, long size)
{
    for_groups<8>(data, size, [](Lanes<8>::F x) __attribute__((always_inline)) { return 1.0f / (expf_lanes<8, true>(-x) + 1.0f); });
}

} // namespace kernels
} // namespace vector_math
} // namespace kep
