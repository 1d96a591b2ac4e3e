// AVX-512 kernels: 16 lanes. This file alone is built for AVX-512 (F, DQ, BW, VL) and FMA; it is
// only called after a run-time check of the CPU, and nothing in it has external linkage except the
// kernels.
#include "core/vector_math_kernels.h"
#include "core/vector_math_lanes.h"

namespace kep
{
namespace vector_math
{
namespace kernels
{

void tanh_avx512(float* data, long size)
{
    for_groups<16>(data, size, [](Lanes<16>::F x) __attribute__((always_inline)) { return tanhf_lanes<16>(x); });
}

void exp_avx512(float* data, long size)
{
    for_groups<16>(data, size, [](Lanes<16>::F x) __attribute__((always_inline)) { return expf_lanes<16, false>(x); });
}

void sigmoid_avx512(float* data, long size)
{
    for_groups<16>(data, size, [](Lanes<16>::F x) __attribute__((always_inline)) { return 1.0f / (expf_lanes<16, false>(-x) + 1.0f); });
}

void exp_avx512_fma(float* data, long size)
{
    for_groups<16>(data, size, [](Lanes<16>::F x) __attribute__((always_inline)) { return expf_lanes<16, true>(x); });
}

void sigmoid_avx512_fma(float* data, long size)
{
    for_groups<16>(data, size, [](Lanes<16>::F x) __attribute__((always_inline)) { return 1.0f / (expf_lanes<16, true>(-x) + 1.0f); });
}

} // namespace kernels
} // namespace vector_math
} // namespace kep
