#include "core/vector_math.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "core/vector_math_kernels.h"

#if defined(__x86_64__) && defined(__GLIBC__) && (defined(__GNUC__) || defined(__clang__))
#include <gnu/libc-version.h>
#define KEP_VECTOR_MATH_PORTS 1
#else
#define KEP_VECTOR_MATH_PORTS 0
#endif

namespace kep
{
namespace vector_math
{

namespace
{

void library_tanh(float* data, long size)
{
    for (long i = 0; i < size; i++)
        data[i] = tanhf(data[i]);
}

void library_exp(float* data, long size)
{
    for (long i = 0; i < size; i++)
        data[i] = expf(data[i]);
}

void library_sigmoid(float* data, long size)
{
    for (long i = 0; i < size; i++)
        data[i] = 1.0f / (expf(-data[i]) + 1.0f);
}

constexpr Kernels library_kernels{"library", library_tanh, "library", library_exp, library_sigmoid};

#if KEP_VECTOR_MATH_PORTS

// The library versions whose tanhf, expm1f and expf the ports reproduce, proven for every input.
bool library_is_verified() { return std::strcmp(gnu_get_libc_version(), "2.36") == 0; }

bool cpu_has(bool avx2_only)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && (avx2_only || __builtin_cpu_supports("fma"));
}

// What the AVX-512 kernels are built for (the check includes the system's support for the
// registers). Every such CPU has AVX2 and FMA too.
bool cpu_has_avx512()
{
    __builtin_cpu_init();
    return cpu_has(false) && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq")
           && __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}

// Arguments at which the two expf variants differ in the last bit, to tell which one runs.
constexpr uint32_t variant_probes[] = {0x4202422fu, 0xc27c65d9u};

float from_bits(uint32_t b)
{
    float f;
    std::memcpy(&f, &b, sizeof f);
    return f;
}

uint32_t to_bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// True when kernel gives exactly the library's results on count arguments.
bool agrees(Kernel kernel, Kernel reference, const uint32_t* arguments, int count)
{
    float a[64], b[64];
    for (int i = 0; i < count; i++)
        a[i] = b[i] = from_bits(arguments[i]);
    kernel(a, count);
    reference(b, count);
    for (int i = 0; i < count; i++)
        if (to_bits(a[i]) != to_bits(b[i]))
            return false;
    return true;
}

ExpVariant detect_exp_variant()
{
    constexpr int n = sizeof variant_probes / sizeof variant_probes[0];
    if (agrees(kernels::exp_sse2, library_exp, variant_probes, n))
        return ExpVariant::plain;
    if (cpu_has(false) && agrees(kernels::exp_avx2_fma, library_exp, variant_probes, n))
        return ExpVariant::fused;
    return ExpVariant::unknown;
}

// A spread of arguments through every branch of the library's code: a last check that the
// library in this process is the one the ports were proven against.
struct Spread
{
    uint32_t values[64];
    Spread()
    {
        const uint32_t special[] = {0x00000000u, 0x80000000u, 0x7f800000u, 0xff800000u, 0x7fc00000u, 0xffa00001u,
                                    0x00000001u, 0x24000000u, 0x3f800000u, 0x41b00000u, 0x42b00000u, 0xc2cf0000u,
                                    0xc2d00000u, 0x42b20000u, 0x3eb17218u, 0x3f851592u};
        int n = 0;
        for (uint32_t v : special)
            values[n++] = v;
        for (uint32_t i = 0; n < 64; i++)
            values[n++] = 0x9e3779b9u * (i + 1); // every sign and exponent, in no order
    }
};

Kernels choose()
{
    if (!library_is_verified())
        return library_kernels;
    const Spread spread;
    Kernels chosen = library_kernels;
    // The ports come from the narrowest to the widest: take the widest, and for exp and sigmoid
    // the widest that reproduces the library's variant.
    const std::vector<Port> all = ports();
    if (!all.empty() && agrees(all.back().kernels.tanh, library_tanh, spread.values, 64))
    {
        chosen.tanh = all.back().kernels.tanh;
        chosen.tanh_name = all.back().kernels.tanh_name;
    }
    const ExpVariant variant = detect_exp_variant();
    Kernels exp_port = library_kernels;
    for (const Port& port : all)
        if (port.exp_variant == variant)
            exp_port = port.kernels;
    if (exp_port.exp != library_exp && agrees(exp_port.exp, library_exp, spread.values, 64)
        && agrees(exp_port.sigmoid, library_sigmoid, spread.values, 64))
    {
        chosen.exp_name = exp_port.exp_name;
        chosen.exp = exp_port.exp;
        chosen.sigmoid = exp_port.sigmoid;
    }
    return chosen;
}

// Constant-initialised to the library, then set once at start-up, before any model can run.
Kernels chosen_kernels = library_kernels;
const bool chosen_kernels_set = (chosen_kernels = choose(), true);

#else

Kernels chosen_kernels = library_kernels;

#endif

} // namespace

void tanh(float* data, long size) { chosen_kernels.tanh(data, size); }
void exp(float* data, long size) { chosen_kernels.exp(data, size); }
void sigmoid(float* data, long size) { chosen_kernels.sigmoid(data, size); }

const Kernels& active() { return chosen_kernels; }
const Kernels& library() { return library_kernels; }

ExpVariant library_exp_variant()
{
#if KEP_VECTOR_MATH_PORTS
    return detect_exp_variant();
#else
    return ExpVariant::unknown;
#endif
}

std::vector<Port> ports()
{
    // From the narrowest to the widest.
    std::vector<Port> result;
#if KEP_VECTOR_MATH_PORTS
    result.push_back({{"sse2", kernels::tanh_sse2, "sse2", kernels::exp_sse2, kernels::sigmoid_sse2}, ExpVariant::plain});
    if (cpu_has(true))
        result.push_back(
            {{"avx2", kernels::tanh_avx2, "avx2", kernels::exp_avx2, kernels::sigmoid_avx2}, ExpVariant::plain});
    if (cpu_has(false))
        result.push_back({{"avx2", kernels::tanh_avx2, "avx2+fma", kernels::exp_avx2_fma, kernels::sigmoid_avx2_fma},
                          ExpVariant::fused});
    if (cpu_has_avx512())
    {
        result.push_back(
            {{"avx512", kernels::tanh_avx512, "avx512", kernels::exp_avx512, kernels::sigmoid_avx512}, ExpVariant::plain});
        result.push_back(
            {{"avx512", kernels::tanh_avx512, "avx512+fma", kernels::exp_avx512_fma, kernels::sigmoid_avx512_fma},
             ExpVariant::fused});
    }
#endif
    return result;
}

} // namespace vector_math
} // namespace kep
