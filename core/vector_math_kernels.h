#pragma once

// The block kernels behind core/vector_math.h, one set per instruction set; each works in place
// on data[0, size). Chosen at run time by core/vector_math.cpp.

namespace kep
{
namespace vector_math
{
namespace kernels
{

// Baseline x86-64 (SSE2), 4 values at a time; expf as the library's plain variant.
void tanh_sse2(float* data, long size);
void exp_sse2(float* data, long size);
void sigmoid_sse2(float* data, long size);

// AVX2, 8 values at a time; expf as the library's plain variant ...
void tanh_avx2(float* data, long size);
void exp_avx2(float* data, long size);
void sigmoid_avx2(float* data, long size);
// ... and as its FMA variant (needs FMA too).
void exp_avx2_fma(float* data, long size);
void sigmoid_avx2_fma(float* data, long size);

// AVX-512 (F, DQ, BW, VL), 16 values at a time; the same two variants of expf.
void tanh_avx512(float* data, long size);
void exp_avx512(float* data, long size);
void sigmoid_avx512(float* data, long size);
void exp_avx512_fma(float* data, long size);
void sigmoid_avx512_fma(float* data, long size);

} // namespace kernels
} // namespace vector_math
} // namespace kep
