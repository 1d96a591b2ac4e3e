#pragma once

// Matrix products computed 8 rows at a time with AVX, in exactly the order and with exactly the
// roundings of the matrix library's own products as this build compiles them (SSE, no fused
// multiply-add): every output element is the input's element (or 0) plus a sum that starts at 0
// and adds weight * input one inner index after another. So a model's output keeps its bits
// whichever path runs.
//
// Each function returns false, having done nothing, where it cannot promise those bits (a CPU
// without AVX, a build where the library itself uses wider registers or fused multiply-adds, or a
// shape the library computes in another order); the caller then uses the library's product.
// Nothing here allocates.

namespace kep
{
namespace ordered_products
{

// out = weight * input (add false) or out += weight * input (add true), as the library computes
// these for dynamic matrices: weight is column-major, rows x inner (leading dimension rows); the
// input has count columns of inner floats, input_stride apart; the output count columns of rows
// floats, out_stride apart. The output must not overlap the weight or the input.
bool columns(long rows, long inner, long count, const float* weight, const float* input, long input_stride, float* out,
             long out_stride, bool add);

// out += weight * input for a dynamic vector: out has rows floats, input inner floats.
bool vector_add(long rows, long inner, const float* weight, const float* input, float* out);

// True when this process runs the AVX code above (for tests and the benchmark).
bool active();

} // namespace ordered_products
} // namespace kep
