#include "core/ordered_products.h"

#include <Eigen/Core>

// The library's products here are its SSE kernels without fused multiply-adds (the baseline
// x86-64 build): each output element is accumulated from 0 in inner-index order, one rounded
// multiplication and one rounded addition per term, then added to what the output held.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && defined(EIGEN_VECTORIZE_SSE2)               \
    && !defined(EIGEN_VECTORIZE_AVX) && !defined(EIGEN_VECTORIZE_FMA) && !defined(__FMA__)
#define KEP_ORDERED_AVX 1
#include <immintrin.h>
#else
#define KEP_ORDERED_AVX 0
#endif

namespace kep
{
namespace ordered_products
{

#if KEP_ORDERED_AVX
namespace
{

// The library's matrix-matrix kernel takes 8 rows (two SSE registers) at a time, accumulating
// each element in one register in inner-index order; with 12 rows at a time it would split some
// rows' sums in two.
static_assert(Eigen::internal::gebp_traits<float, float>::mr == 8, "the matrix library's row panels are 8 rows");

// Below this sum of the sizes the library computes matrix products coefficient by coefficient,
// in another order.
constexpr long coefficient_product_limit = EIGEN_GEMM_TO_COEFFBASED_THRESHOLD;
// Longer sums the library may split into blocks (its vector kernel from 128 terms on).
constexpr long max_inner = 127;

bool detect_avx()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx");
}

// Decided once at start-up, before any model can run.
const bool have_avx = detect_avx();

// Rows [0, 8 * R) of Cols output columns. No fused multiply-add exists for this target, so every
// product and every sum is rounded on its own, as written.
template <int R, int Cols>
__attribute__((target("avx"))) void block(long rows, long inner, const float* weight, const float* input,
                                          long input_stride, float* out, long out_stride, bool add)
{
    __m256 acc[Cols][R];
#pragma GCC unroll 8
    for (int c = 0; c < Cols; c++)
#pragma GCC unroll 8
        for (int r = 0; r < R; r++)
            acc[c][r] = _mm256_setzero_ps();
    for (long k = 0; k < inner; k++)
    {
        __m256 w[R];
#pragma GCC unroll 8
        for (int r = 0; r < R; r++)
            w[r] = _mm256_loadu_ps(weight + k * rows + 8 * r);
#pragma GCC unroll 8
        for (int c = 0; c < Cols; c++)
        {
            const __m256 x = _mm256_broadcast_ss(input + c * input_stride + k);
#pragma GCC unroll 8
            for (int r = 0; r < R; r++)
                acc[c][r] = _mm256_add_ps(acc[c][r], _mm256_mul_ps(w[r], x));
        }
    }
#pragma GCC unroll 8
    for (int c = 0; c < Cols; c++)
#pragma GCC unroll 8
        for (int r = 0; r < R; r++)
        {
            float* o = out + c * out_stride + 8 * r;
            _mm256_storeu_ps(o, _mm256_add_ps(acc[c][r], add ? _mm256_loadu_ps(o) : _mm256_setzero_ps()));
        }
}

// Rows [0, 8 * R) of all count columns, Cols columns at a time while enough remain.
template <int R, int Cols>
void row_panel(long rows, long inner, long count, const float* weight, const float* input, long input_stride,
               float* out, long out_stride, bool add)
{
    long j = 0;
    for (; j + Cols <= count; j += Cols)
        block<R, Cols>(rows, inner, weight, input + j * input_stride, input_stride, out + j * out_stride, out_stride,
                       add);
    for (; j < count; j++)
        block<R, 1>(rows, inner, weight, input + j * input_stride, input_stride, out + j * out_stride, out_stride, add);
}

// All rows (a multiple of 8), in panels of up to MaxPanel registers.
template <int MaxPanel, bool OneColumn>
void run(long rows, long inner, long count, const float* weight, const float* input, long input_stride, float* out,
         long out_stride, bool add)
{
    for (long row = 0; row < rows;)
    {
        const long panel = rows - row >= 8 * MaxPanel ? MaxPanel : (rows - row) / 8;
        const float* w = weight + row;
        float* o = out + row;
        // Enough independent sums per panel to keep the adder busy: 8 registers where possible.
        switch (panel)
        {
        case 1: row_panel<1, OneColumn ? 1 : 8>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        case 2: row_panel<2, OneColumn ? 1 : 4>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        case 3: row_panel<3, OneColumn ? 1 : 2>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        case 4: row_panel<4, OneColumn ? 1 : 2>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        case 5: row_panel<5, 1>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        case 6: row_panel<6, 1>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        case 7: row_panel<7, 1>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        default: row_panel<8, 1>(rows, inner, count, w, input, input_stride, o, out_stride, add); break;
        }
        row += 8 * panel;
    }
}

bool usable(long rows, long inner) { return have_avx && rows > 0 && rows % 8 == 0 && inner > 0 && inner <= max_inner; }

} // namespace

bool columns(long rows, long inner, long count, const float* weight, const float* input, long input_stride, float* out,
             long out_stride, bool add)
{
    if (!usable(rows, inner) || count <= 0 || inner + rows + count < coefficient_product_limit)
        return false;
    if (count == 1)
        run<8, true>(rows, inner, 1, weight, input, input_stride, out, out_stride, add);
    else
        run<4, false>(rows, inner, count, weight, input, input_stride, out, out_stride, add);
    return true;
}

bool vector_add(long rows, long inner, const float* weight, const float* input, float* out)
{
    if (!usable(rows, inner))
        return false;
    run<8, true>(rows, inner, 1, weight, input, inner, out, rows, true);
    return true;
}

bool active() { return have_avx; }

#else

bool columns(long, long, long, const float*, const float*, long, float*, long, bool) { return false; }

bool vector_add(long, long, const float*, const float*, float*) { return false; }

bool active() { return false; }

#endif

} // namespace ordered_products
} // namespace kep
