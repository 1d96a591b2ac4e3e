#pragma once

#include <vector>

namespace kep
{
namespace vector_math
{

// In place on data[0, size): the C library's tanhf(x), expf(x) and 1 / (expf(-x) + 1), to the bit.
// Where a vectorised port of the library's code has been proven identical for every input (the
// GNU C library of the version checked, on x86-64), it runs 4, 8 or 16 values at a time; elsewhere
// the library is called for each value. Allocate nothing, never block.
void tanh(float* data, long size);
void exp(float* data, long size);
void sigmoid(float* data, long size);

using Kernel = void (*)(float* data, long size);

struct Kernels
{
    const char* tanh_name;
    Kernel tanh;
    const char* exp_name;
    Kernel exp;
    Kernel sigmoid;
};

// What the three functions above use in this process.
const Kernels& active();

// The library's own functions, one value at a time.
const Kernels& library();

// Which of its two expf variants the library runs in this process (it picks one by CPU feature).
enum class ExpVariant
{
    plain,
    fused, // the FMA variant
    unknown,
};
ExpVariant library_exp_variant();

// Every port that this CPU can run, whether or not the library matches it (tests and benchmarks);
// exp_variant tells which library variant a port's exp and sigmoid reproduce.
struct Port
{
    Kernels kernels;
    ExpVariant exp_variant;
};
std::vector<Port> ports();

} // namespace vector_math
} // namespace kep
