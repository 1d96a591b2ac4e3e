// The vectorised tanhf/expf/sigmoid on runs of every length and alignment, including the partial
// last group, against the C library. (Every argument is checked by the exhaustive test; this one
// checks the handling of runs and runs under the sanitizers.)
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#if defined(__GLIBC__)
#include <gnu/libc-version.h>
#endif

#include "core/vector_math.h"

namespace vm = kep::vector_math;

namespace
{

uint32_t bits_of(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// Arguments through every branch of the library's code, then a spread of ordinary ones.
std::vector<float> arguments()
{
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> v = {0.0f,   -0.0f,  1e-40f, -1e-30f, 1e-8f,  0.2f,   -0.4f,  0.6f,   -1.0f,  1.3f,
                            -2.5f,  9.0f,   -21.9f, 22.0f,   30.0f,  -87.9f, 88.5f,  88.8f,  -103.5f, -104.0f,
                            -200.f, inf,    -inf,   std::numeric_limits<float>::quiet_NaN()};
    for (int i = 0; v.size() < 75; i++)
        v.push_back(std::sin(static_cast<float>(i) * 1.7f) * static_cast<float>(1 + i % 9));
    return v;
}

struct Function
{
    const char* name;
    float (*reference)(float);
};

const Function functions[] = {
    {"tanh", [](float x) { return tanhf(x); }},
    {"exp", [](float x) { return expf(x); }},
    {"sigmoid", [](float x) { return 1.0f / (expf(-x) + 1.0f); }},
};

vm::Kernel kernel_of(const vm::Kernels& k, int f) { return f == 0 ? k.tanh : f == 1 ? k.exp : k.sigmoid; }

// Runs kernel over [offset, offset + length) of a copy of the arguments, for every offset and
// length; expects the library's values inside, and nothing changed outside.
void expect_library_results(const std::string& what, vm::Kernel kernel, const Function& function)
{
    const std::vector<float> args = arguments();
    for (size_t offset = 0; offset < 9; offset++)
        for (size_t length = 0; offset + length <= args.size(); length++)
        {
            std::vector<float> data = args;
            kernel(data.data() + offset, static_cast<long>(length));
            for (size_t i = 0; i < data.size(); i++)
            {
                const bool inside = i >= offset && i < offset + length;
                const float want = inside ? function.reference(args[i]) : args[i];
                ASSERT_EQ(bits_of(data[i]), bits_of(want))
                    << what << " " << function.name << ", offset " << offset << ", length " << length << ", at " << i
                    << " (argument " << args[i] << ")";
            }
        }
}

} // namespace

TEST(VectorMath, ActiveKernelsGiveTheLibraryResultsForAnyRun)
{
    for (int f = 0; f < 3; f++)
        expect_library_results("active", kernel_of(vm::active(), f), functions[f]);
    // The entry points use the active kernels.
    std::vector<float> a = arguments(), b = a;
    vm::tanh(a.data(), static_cast<long>(a.size()));
    vm::active().tanh(b.data(), static_cast<long>(b.size()));
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size() * sizeof(float)), 0);
}

TEST(VectorMath, EveryPortMatchingTheLibraryVariantGivesItsResultsForAnyRun)
{
    const vm::ExpVariant variant = vm::library_exp_variant();
    for (const vm::Port& port : vm::ports())
    {
        expect_library_results(port.kernels.tanh_name, port.kernels.tanh, functions[0]);
        if (port.exp_variant != variant)
            continue;
        expect_library_results(port.kernels.exp_name, port.kernels.exp, functions[1]);
        expect_library_results(port.kernels.exp_name, port.kernels.sigmoid, functions[2]);
    }
}

#if defined(__GLIBC__) && defined(__x86_64__)
TEST(VectorMath, PortsAreUsedOnTheVerifiedLibrary)
{
    if (std::strcmp(gnu_get_libc_version(), "2.36") != 0)
        GTEST_SKIP() << "the ports are proven for the GNU C library 2.36 only";
    EXPECT_NE(vm::library_exp_variant(), vm::ExpVariant::unknown);
    EXPECT_NE(vm::active().tanh, vm::library().tanh);
    EXPECT_NE(vm::active().exp, vm::library().exp);
    EXPECT_NE(vm::active().sigmoid, vm::library().sigmoid);
}
#endif
