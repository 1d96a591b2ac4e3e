#pragma once

// The C library's tanhf and expf (GNU C library 2.36, x86-64), computed W lanes at a time.
//
// Each lane performs the same float and double operations, in the same order, as the library's
// scalar code; where the library branches, every branch is computed and the lane's result picked
// by mask. Included only by the kernel files (one per instruction set), which compile it with
// -ffp-contract=off so that no multiply-add is fused unless written so. Everything here has
// internal linkage, so no code built for a wider instruction set can leak into other files.

#include <cstdint>

#include <immintrin.h>

// The lane types are wider than the registers of the baseline build; everything taking them is
// inlined, so the calling convention for them never applies.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace kep
{
namespace vector_math
{
namespace
{

template <int W>
struct Lanes
{
    typedef float F __attribute__((vector_size(4 * W)));
    typedef int32_t I __attribute__((vector_size(4 * W)));
    typedef uint32_t N __attribute__((vector_size(4 * W))); // for arithmetic that wraps
    // Half the lanes, as floats and as doubles (one register of doubles).
    typedef float H __attribute__((vector_size(2 * W)));
    typedef double D __attribute__((vector_size(4 * W)));
    typedef uint64_t U __attribute__((vector_size(4 * W)));
};

#define KEP_LANE_INLINE __attribute__((always_inline)) inline

template <class To, class From>
KEP_LANE_INLINE To bits(From v)
{
    return __builtin_bit_cast(To, v);
}

// mask ? a : b, lane by lane; mask lanes are all ones or all zeros.
template <class T, class M>
KEP_LANE_INLINE T pick(M mask, T a, T b)
{
    return bits<T>((mask & bits<M>(a)) | (~mask & bits<M>(b)));
}

// value in every lane (signed zeros and NaN kept).
template <class T>
KEP_LANE_INLINE T splat(decltype(T{}[0]) value)
{
    T v;
    for (unsigned i = 0; i < sizeof(T) / sizeof(value); i++)
        v[i] = value;
    return v;
}

// True when any lane of the mask is set.
template <class M>
KEP_LANE_INLINE bool any(M mask)
{
    if constexpr (sizeof(M) == 16)
        return _mm_movemask_ps(bits<__m128>(mask)) != 0;
#if defined(__AVX__)
    else if constexpr (sizeof(M) == 32)
        return _mm256_movemask_ps(bits<__m256>(mask)) != 0;
#endif
#if defined(__AVX512F__)
    else if constexpr (sizeof(M) == 64)
        return _mm512_test_epi32_mask(bits<__m512i>(mask), bits<__m512i>(mask)) != 0;
#endif
    else
        static_assert(sizeof(M) == 16, "a mask of one SSE, AVX or AVX-512 register");
}

// A value the compiler cannot fold, so that products the library computes at run time (to raise
// the floating-point flags) are also computed at run time here, in the same rounding and
// flush-to-zero mode.
template <class T>
KEP_LANE_INLINE T opaque(T v)
{
    asm("" : "+x"(v));
    return v;
}

#if defined(__FMA__)
// a * b + c with one rounding, as the library's FMA variant of expf computes some steps.
template <class D>
KEP_LANE_INLINE D fused(D a, D b, D c)
{
    if constexpr (sizeof(D) == 32)
        return _mm256_fmadd_pd(a, b, c);
#if defined(__AVX512F__)
    else if constexpr (sizeof(D) == 64)
        return _mm512_fmadd_pd(a, b, c);
#endif
    else
        return _mm_fmadd_pd(a, b, c);
}
#endif

// expm1f, for the arguments tanhf passes it: finite, in (-2, 0) or [2, 44). The library's branches
// for other arguments (k = 1, huge or non-finite arguments) are left out; so, for the values in
// (-2, 0), is the choice of sign in the reduction near ln2. Without Tiny, no argument is below
// 2^-25 in magnitude either.
template <int W, bool Tiny>
KEP_LANE_INLINE typename Lanes<W>::F expm1f_lanes(typename Lanes<W>::F x)
{
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    const F one = splat<F>(1.0f);
    const F ln2_hi = splat<F>(6.9313812256e-01f), ln2_lo = splat<F>(9.0580006145e-06f);
    const F invln2 = splat<F>(1.4426950216e+00f);
    const F Q1 = splat<F>(-3.3333335072e-02f), Q2 = splat<F>(1.5873016091e-03f), Q3 = splat<F>(-7.9365076090e-05f),
            Q4 = splat<F>(4.0082177293e-06f), Q5 = splat<F>(-2.0109921195e-07f);

    const I word = bits<I>(x);
    const I negative = word < 0;
    const I hx = word & 0x7fffffff;

    // Argument reduction: x = k ln2 + hi - lo, and c the rounding error of hi - lo. Where the
    // library takes k = -1 (|x| < 1.5 ln2, only negative x here), its hi = x + ln2_hi and
    // lo = -ln2_lo are what x - k ln2_hi and k ln2_lo give exactly; where it does not reduce
    // (|x| <= 0.5 ln2), k = 0 gives hi = x and lo = 0, so x itself.
    const I near = hx < 0x3F851592;
    const I reduced = hx > 0x3eb17218;
    const F t_far = __builtin_convertvector(
        __builtin_convertvector(invln2 * x + pick(negative, splat<F>(-0.5f), splat<F>(0.5f)), I), F);
    const F t_k = pick(reduced, pick(near, splat<F>(-1.0f), t_far), splat<F>(0.0f));
    const I k = __builtin_convertvector(t_k, I);
    const F hi = x - t_k * ln2_hi;
    const F lo = t_k * ln2_lo;
    const F xr = hi - lo;
    const F c = (hi - xr) - lo;

    // x is now in the primary range.
    const F hfx = 0.5f * xr;
    const F hxs = xr * hfx;
    const F r1 = one + hxs * (Q1 + hxs * (Q2 + hxs * (Q3 + hxs * (Q4 + hxs * Q5))));
    const F t = 3.0f - r1 * hfx;
    const F e0 = hxs * ((r1 - t) / (6.0f - xr * t));
    const F result_k0 = xr - (xr * e0 - hxs);

    const F e = (xr * (e0 - c) - c) - hxs;
    const F result_minus1 = 0.5f * (xr - e) - 0.5f;
    // k's lanes hold anything where the result is not used (INT_MIN for NaN), so this wraps.
    using N = typename Lanes<W>::N;
    const N exponent = bits<N>(k) << 23;
    const F two_minus_k = bits<F>((0x7fu - bits<N>(k)) << 23);
    // For k <= -2 or k > 56: 1 - (e - x), scaled by 2^k, less 1. For 2 <= k < 23 the same with
    // 1 - 2^-k (exact) in place of 1 and nothing subtracted (subtracting +0 changes no value).
    const I wide = (k <= -2) | (k > 56);
    const F scaled = bits<F>(bits<N>(pick(wide, one, one - two_minus_k) - (e - xr)) + exponent);
    const F result_wide_or_below23 = scaled - pick(wide, one, splat<F>(0.0f));
    const F result_above23 = bits<F>(bits<N>((xr - (e + two_minus_k)) + one) + exponent);

    F result = pick(wide | (k < 23), result_wide_or_below23, result_above23);
    result = pick(k == -1, result_minus1, result);
    result = pick(k == 0, result_k0, result);

    // |x| < 2^-25: x itself.
    if constexpr (Tiny)
        result = pick(hx < 0x33000000, x, result);

    return result;
}

// tanhf. Without Rare, for arguments of magnitude in [2^-26, 22) only, where the library takes none
// of its branches for tiny, huge or non-finite arguments (nor does the expm1f it calls).
template <int W, bool Rare>
KEP_LANE_INLINE typename Lanes<W>::F tanhf_group(typename Lanes<W>::F x)
{
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    const F one = splat<F>(1.0f), two = splat<F>(2.0f);
    const I jx = bits<I>(x);
    const I ix = jx & 0x7fffffff;
    const F ax = bits<F>(ix);

    const I at_least_one = ix >= 0x3f800000;
    const F t = expm1f_lanes<W, Rare>(pick(at_least_one, ax + ax, ax * -2.0f));
    // one - two / (t + two) or -t / (t + two): one division serves both.
    const F q = pick(at_least_one, two, -t) / (t + two);
    F z = pick(at_least_one, one - q, q);
    if constexpr (Rare)
        z = pick(ix >= 0x41b00000, one - splat<F>(1.0e-30f), z); // |x| >= 22
    F result = pick(jx < 0, -z, z);
    if constexpr (!Rare)
        return result;

    result = pick(ix < 0x24000000, x * (one + x), result); // |x| < 2^-55
    result = pick(ix == 0, x, result);
    const I not_finite = ix >= 0x7f800000;
    if (any(not_finite))
    {
        const F reciprocal = one / x;
        result = pick(not_finite, pick(jx < 0, reciprocal - one, reciprocal + one), result);
    }
    return result;
}

template <int W>
KEP_LANE_INLINE typename Lanes<W>::F tanhf_lanes(typename Lanes<W>::F x)
{
    using N = typename Lanes<W>::N;
    // Magnitude below 2^-26, at least 22, infinite or NaN in any lane: the full code.
    const N offset = (bits<N>(x) & 0x7fffffffu) - 0x32800000u;
    if (__builtin_expect(any(offset >= 0x41b00000u - 0x32800000u), 0))
        return tanhf_group<W, true>(x);
    return tanhf_group<W, false>(x);
}

// 2^(i/32) as doubles, less i << 47 (the library's table).
alignas(64) constexpr uint64_t exp2_table[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51, 0x3fef72b83c7d517b,
    0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1, 0x3fef06fe0a31b715, 0x3feef1a7373aa9cb,
    0x3feedea64c123422, 0x3feece086061892d, 0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429,
    0x3feea47eb03a5585, 0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d, 0x3feee89f995ad3ad,
    0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069, 0x3fef5818dcfba487, 0x3fef7c97337b9b5f,
    0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};

template <int W>
KEP_LANE_INLINE typename Lanes<W>::D exp2_table_lookup(typename Lanes<W>::U index)
{
    using D = typename Lanes<W>::D;
#if defined(__AVX512F__)
    if constexpr (sizeof(D) == 64)
        return _mm512_castsi512_pd(_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xff,
                                                               reinterpret_cast<__m512i>(index), exp2_table, 8));
#endif
#if defined(__AVX2__)
    if constexpr (sizeof(D) == 32)
        return _mm256_castsi256_pd(_mm256_i64gather_epi64(reinterpret_cast<const long long*>(exp2_table),
                                                          reinterpret_cast<__m256i>(index), 8));
#endif
    typename Lanes<W>::U t;
    for (int i = 0; i < W / 2; i++)
        t[i] = exp2_table[index[i]];
    return bits<D>(t);
}

// expf's main path for half the lanes, in double precision. Fused selects the library's FMA
// variant, which fuses five of the multiply-adds.
template <int W, bool Fused>
KEP_LANE_INLINE typename Lanes<W>::H expf_half(typename Lanes<W>::H x)
{
    using D = typename Lanes<W>::D;
    using U = typename Lanes<W>::U;
#if !defined(__FMA__)
    static_assert(!Fused, "the fused variant needs a file built for FMA");
#endif
    const D inv_ln2_n = splat<D>(0x1.71547652b82fep+0 * 32);
    const D shift = splat<D>(0x1.8p+52);
    const D c0 = splat<D>(0x1.c6af84b912394p-5 / 32 / 32 / 32), c1 = splat<D>(0x1.ebfce50fac4f3p-3 / 32 / 32),
            c2 = splat<D>(0x1.62e42ff0c52d6p-1 / 32);
    const D one = splat<D>(1.0);

    const D xd = __builtin_convertvector(x, D);
    D kd, r, y;
    if constexpr (Fused)
    {
#if defined(__FMA__)
        kd = fused(inv_ln2_n, xd, shift);
#endif
    }
    else
    {
        r = inv_ln2_n * xd; // z
        kd = r + shift;
    }
    const U ki = bits<U>(kd);
    kd -= shift;
    const D s = bits<D>(bits<U>(exp2_table_lookup<W>(ki % 32)) + (ki << 47));
    if constexpr (Fused)
    {
#if defined(__FMA__)
        r = fused(inv_ln2_n, xd, -kd);
        const D z = fused(c0, r, c1);
        const D r2 = r * r;
        y = fused(r, c2, one);
        y = fused(z, r2, y);
#endif
    }
    else
    {
        r = r - kd;
        const D z = c0 * r + c1;
        const D r2 = r * r;
        y = c2 * r + one;
        y = z * r2 + y;
    }
    y = y * s;
    return __builtin_convertvector(y, typename Lanes<W>::H);
}

template <int W, bool Fused>
KEP_LANE_INLINE typename Lanes<W>::F expf_lanes(typename Lanes<W>::F x)
{
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    using H = typename Lanes<W>::H;
    F result;
    if constexpr (W == 16)
    {
        const H low = expf_half<W, Fused>(__builtin_shufflevector(x, x, 0, 1, 2, 3, 4, 5, 6, 7));
        const H high = expf_half<W, Fused>(__builtin_shufflevector(x, x, 8, 9, 10, 11, 12, 13, 14, 15));
        result = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
    }
    else if constexpr (W == 8)
    {
        const H low = expf_half<W, Fused>(__builtin_shufflevector(x, x, 0, 1, 2, 3));
        const H high = expf_half<W, Fused>(__builtin_shufflevector(x, x, 4, 5, 6, 7));
        result = __builtin_shufflevector(low, high, 0, 1, 2, 3, 4, 5, 6, 7);
    }
    else
    {
        static_assert(W == 4);
        const H low = expf_half<W, Fused>(__builtin_shufflevector(x, x, 0, 1));
        const H high = expf_half<W, Fused>(__builtin_shufflevector(x, x, 2, 3));
        result = __builtin_shufflevector(low, high, 0, 1, 2, 3);
    }

    // |x| >= 88, infinities and NaN.
    const I word = bits<I>(x);
    const I abstop = (word >> 20) & 0x7ff;
    const I special = abstop >= 0x42b;
    if (__builtin_expect(!any(special), 1))
        return result;
    F s_result = pick(x < -0x1.9d1d9ep6f, opaque(splat<F>(0x1.4p-75f)) * splat<F>(0x1.4p-75f), result);
    s_result = pick(x < -0x1.9fe368p6f, opaque(splat<F>(0x1p-95f)) * splat<F>(0x1p-95f), s_result);
    s_result = pick(x > 0x1.62e42ep6f, opaque(splat<F>(0x1p97f)) * splat<F>(0x1p97f), s_result);
    s_result = pick(abstop >= 0x7f8, x + x, s_result);
    s_result = pick(word == static_cast<int32_t>(0xff800000), splat<F>(0.0f), s_result);
    return pick(special, s_result, result);
}

// fn applied to data[0, size) in place, W values at a time; the last, partial group is padded
// with zeros.
template <int W, class Fn>
KEP_LANE_INLINE void for_groups(float* data, long size, Fn fn)
{
    using F = typename Lanes<W>::F;
    long i = 0;
    // Two groups at a time: independent chains of operations the CPU can overlap.
    for (; i + 2 * W <= size; i += 2 * W)
    {
        F a, b;
        __builtin_memcpy(&a, data + i, sizeof a);
        __builtin_memcpy(&b, data + i + W, sizeof b);
        a = fn(a);
        b = fn(b);
        __builtin_memcpy(data + i, &a, sizeof a);
        __builtin_memcpy(data + i + W, &b, sizeof b);
    }
    for (; i + W <= size; i += W)
    {
        F v;
        __builtin_memcpy(&v, data + i, sizeof v);
        v = fn(v);
        __builtin_memcpy(data + i, &v, sizeof v);
    }
    if (i < size)
    {
        const unsigned long rest = static_cast<unsigned long>(size - i) * sizeof(float);
        F v = {};
        __builtin_memcpy(&v, data + i, rest);
        v = fn(v);
        __builtin_memcpy(data + i, &v, rest);
    }
}

} // namespace
} // namespace vector_math
} // namespace kep
