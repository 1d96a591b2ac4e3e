#include "core/conv1x1.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define KEP_MIX_AVX2 1
#else
#define KEP_MIX_AVX2 0
#endif

namespace kep
{

namespace
{

using Strided = Eigen::OuterStride<>;
using ConstColumns = Eigen::Map<const Eigen::MatrixXf, 0, Strided>;
using Columns = Eigen::Map<Eigen::MatrixXf, 0, Strided>;

// Four floats in one SSE register (GCC and Clang vector extension; plain SSE2 code by default,
// wider code when the build targets a newer CPU).
typedef float Vec4 __attribute__((vector_size(16)));

inline Vec4 load4(const float* p)
{
    Vec4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline void store4(float* p, Vec4 v) { std::memcpy(p, &v, sizeof v); }

// mix_columns for a row count known at compile time: a column's accumulators stay in registers
// while every source's weight columns are streamed through.
template <int Rows>
void mix_fixed(long count, const ColumnSource* sources, std::size_t num_sources, const float* bias, const float* init,
               long init_stride, float* out, long out_stride)
{
    constexpr int Q = Rows / 4;
    Vec4 bias_v[Q];
#pragma GCC unroll 8
    for (int q = 0; q < Q; q++)
        bias_v[q] = bias != nullptr ? load4(bias + 4 * q) : Vec4{0.0f, 0.0f, 0.0f, 0.0f};
    for (long j = 0; j < count; j++)
    {
        Vec4 acc[Q];
#pragma GCC unroll 8
        for (int q = 0; q < Q; q++)
            acc[q] = init != nullptr ? bias_v[q] + load4(init + j * init_stride + 4 * q) : bias_v[q];
        for (std::size_t s = 0; s < num_sources; s++)
        {
            const ColumnSource& source = sources[s];
            const float* x = source.input + j * source.input_stride;
            const float* w = source.weight;
            for (long c = 0; c < source.inputs; c++, w += Rows)
            {
                const float xc = x[c];
                const Vec4 xv = {xc, xc, xc, xc};
#pragma GCC unroll 8
                for (int q = 0; q < Q; q++)
                    acc[q] += load4(w + 4 * q) * xv;
            }
        }
#pragma GCC unroll 8
        for (int q = 0; q < Q; q++)
            store4(out + j * out_stride + 4 * q, acc[q]);
    }
}

#if KEP_MIX_AVX2
// The same for CPUs with AVX2 and FMA, chosen at run time so that the build itself targets the
// baseline x86-64. Several columns are processed at once, so that enough independent
// accumulators hide the latency of the fused multiply-adds.
template <int Rows, int Columns>
__attribute__((target("avx2,fma"), always_inline)) inline void mix_avx2_step(long j, const ColumnSource* sources,
                                                                            std::size_t num_sources,
                                                                            const __m256* bias_v, const float* init,
                                                                            long init_stride, float* out, long out_stride)
{
    constexpr int Q = Rows / 8;
    __m256 acc[Columns][Q];
#pragma GCC unroll 8
    for (int p = 0; p < Columns; p++)
#pragma GCC unroll 8
        for (int q = 0; q < Q; q++)
            acc[p][q] = init != nullptr ? _mm256_add_ps(bias_v[q], _mm256_loadu_ps(init + (j + p) * init_stride + 8 * q))
                                        : bias_v[q];
    for (std::size_t s = 0; s < num_sources; s++)
    {
        const ColumnSource& source = sources[s];
        const float* x = source.input + j * source.input_stride;
        const float* w = source.weight;
        for (long c = 0; c < source.inputs; c++, w += Rows)
        {
            __m256 wv[Q];
#pragma GCC unroll 8
            for (int q = 0; q < Q; q++)
                wv[q] = _mm256_loadu_ps(w + 8 * q);
#pragma GCC unroll 8
            for (int p = 0; p < Columns; p++)
            {
                const __m256 xv = _mm256_broadcast_ss(x + p * source.input_stride + c);
#pragma GCC unroll 8
                for (int q = 0; q < Q; q++)
                    acc[p][q] = _mm256_fmadd_ps(wv[q], xv, acc[p][q]);
            }
        }
    }
#pragma GCC unroll 8
    for (int p = 0; p < Columns; p++)
#pragma GCC unroll 8
        for (int q = 0; q < Q; q++)
            _mm256_storeu_ps(out + (j + p) * out_stride + 8 * q, acc[p][q]);
}

template <int Rows>
__attribute__((target("avx2,fma"))) void mix_avx2(long count, const ColumnSource* sources, std::size_t num_sources,
                                                  const float* bias, const float* init, long init_stride, float* out,
                                                  long out_stride)
{
    constexpr int Q = Rows / 8;
    constexpr int Columns = Q == 1 ? 8 : Q == 2 ? 4 : 2;
    __m256 bias_v[Q];
    for (int q = 0; q < Q; q++)
        bias_v[q] = bias != nullptr ? _mm256_loadu_ps(bias + 8 * q) : _mm256_setzero_ps();
    long j = 0;
    for (; j + Columns <= count; j += Columns)
        mix_avx2_step<Rows, Columns>(j, sources, num_sources, bias_v, init, init_stride, out, out_stride);
    for (; j < count; j++)
        mix_avx2_step<Rows, 1>(j, sources, num_sources, bias_v, init, init_stride, out, out_stride);
}

bool detect_avx2_fma()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

// Decided once at start-up, before any model can run.
const bool have_avx2_fma = detect_avx2_fma();
#endif

// Any row count: the matrix library's products, evaluated straight into the output columns.
void mix_general(long rows, long count, const ColumnSource* sources, std::size_t num_sources, const float* bias,
                 const float* init, long init_stride, float* out, long out_stride)
{
    Columns result(out, rows, count, Strided(out_stride));
    if (init == nullptr)
        result.setZero();
    else if (init != out || init_stride != out_stride)
        result = ConstColumns(init, rows, count, Strided(init_stride));
    for (std::size_t s = 0; s < num_sources; s++)
    {
        const ColumnSource& source = sources[s];
        const Eigen::Map<const Eigen::MatrixXf> weight(source.weight, rows, source.inputs);
        result.noalias() += weight * ConstColumns(source.input, source.inputs, count, Strided(source.input_stride));
    }
    if (bias != nullptr)
        result.colwise() += Eigen::Map<const Eigen::VectorXf>(bias, rows);
}

} // namespace

void mix_columns(long rows, long count, const ColumnSource* sources, std::size_t num_sources, const float* bias,
                 const float* init, long init_stride, float* out, long out_stride)
{
    if (rows <= 0 || count <= 0)
        return;
#if KEP_MIX_AVX2
    if (have_avx2_fma)
        switch (rows)
        {
        case 8: return mix_avx2<8>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
        case 16: return mix_avx2<16>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
        case 24: return mix_avx2<24>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
        case 32: return mix_avx2<32>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
        default: break;
        }
#endif
    switch (rows)
    {
    case 4: return mix_fixed<4>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    case 8: return mix_fixed<8>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    case 12: return mix_fixed<12>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    case 16: return mix_fixed<16>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    case 20: return mix_fixed<20>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    case 24: return mix_fixed<24>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    case 32: return mix_fixed<32>(count, sources, num_sources, bias, init, init_stride, out, out_stride);
    default: return mix_general(rows, count, sources, num_sources, bias, init, init_stride, out, out_stride);
    }
}

Conv1x1::Conv1x1(int in_channels, int out_channels, bool bias_)
{
    weight.resize(out_channels, in_channels);
    has_bias = bias_;
    if (bias_)
        bias.resize(out_channels);
}

void Conv1x1::set_weights_(std::vector<float>::iterator& weights)
{
    for (long r = 0; r < weight.rows(); r++)
        for (long c = 0; c < weight.cols(); c++)
            weight(r, c) = *(weights++);
    if (has_bias)
        for (long r = 0; r < bias.size(); r++)
            bias(r) = *(weights++);
}

Eigen::MatrixXf Conv1x1::process(const Eigen::MatrixXf& input) const
{
    Eigen::MatrixXf result = weight * input;
    if (has_bias)
        result.colwise() += bias;
    return result;
}

void Conv1x1::process_(const Eigen::MatrixXf& input, long input_start, long count, Eigen::MatrixXf& output,
                       long output_start) const
{
    const ColumnSource source{weight.data(), weight.cols(), input.data() + input_start * input.rows(), input.rows()};
    mix_columns(weight.rows(), count, &source, 1, has_bias ? bias.data() : nullptr, nullptr, 0,
                output.data() + output_start * output.rows(), output.rows());
}

} // namespace kep
