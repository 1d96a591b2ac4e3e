// The AVX products against the matrix library's own, bit for bit, over the shapes the models use
// and the edges of where the fast path applies, with ordinary values, signed zeros, denormals and
// cancelling sums, in the default floating-point mode and with denormals flushed to zero.
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Dense>
#include <gtest/gtest.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "core/ordered_products.h"

namespace op = kep::ordered_products;

namespace
{

using Strided = Eigen::OuterStride<>;
using ConstColumns = Eigen::Map<const Eigen::MatrixXf, 0, Strided>;
using Columns = Eigen::Map<Eigen::MatrixXf, 0, Strided>;

// Mostly ordinary values, with signed zeros, denormals, large values and repeats (so that some
// sums cancel exactly).
std::vector<float> awkward_values(size_t n, std::mt19937& rng)
{
    std::uniform_real_distribution<float> uniform(-1.0f, 1.0f);
    std::uniform_int_distribution<int> kind(0, 19);
    std::vector<float> v(n);
    for (size_t i = 0; i < n; i++)
        switch (kind(rng))
        {
        case 0: v[i] = 0.0f; break;
        case 1: v[i] = -0.0f; break;
        case 2: v[i] = uniform(rng) * 1e-39f; break;
        case 3: v[i] = uniform(rng) * 1e30f; break;
        case 4: v[i] = i > 0 ? -v[i - 1] : 1.0f; break;
        default: v[i] = uniform(rng); break;
        }
    return v;
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// Runs body in the default mode and with flush-to-zero and denormals-are-zero, the mode of the
// audio thread.
template <class Body>
void in_both_modes(Body body)
{
    body("default mode");
#if defined(__x86_64__)
    const unsigned saved = _mm_getcsr();
    _mm_setcsr(saved | 0x8040);
    body("flush to zero");
    _mm_setcsr(saved);
#endif
}

} // namespace

TEST(OrderedProducts, ColumnsMatchTheLibraryBitForBit)
{
    std::mt19937 rng(11);
    int fast = 0;
    in_both_modes([&](const std::string& mode) {
        for (long rows : {8L, 16L, 24L, 40L, 64L, 12L})
            for (long inner : {1L, 3L, 8L, 16L, 17L, 33L, 127L, 128L})
                for (long count : {1L, 2L, 3L, 5L, 8L, 13L, 256L})
                    for (bool add : {false, true})
                    {
                        const long in_stride = inner + 3, out_stride = rows + 5;
                        const std::vector<float> weight = awkward_values(static_cast<size_t>(rows * inner), rng);
                        const std::vector<float> input = awkward_values(static_cast<size_t>(in_stride * count), rng);
                        const std::vector<float> before = awkward_values(static_cast<size_t>(out_stride * count), rng);

                        std::vector<float> expected = before;
                        const Eigen::Map<const Eigen::MatrixXf> w(weight.data(), rows, inner);
                        const ConstColumns x(input.data(), inner, count, Strided(in_stride));
                        Columns e(expected.data(), rows, count, Strided(out_stride));
                        if (add)
                            e.noalias() += w * x;
                        else
                            e.noalias() = w * x;

                        std::vector<float> actual = before;
                        const bool done = op::columns(rows, inner, count, weight.data(), input.data(), in_stride,
                                                      actual.data(), out_stride, add);
                        const bool expected_fast =
                            op::active() && rows % 8 == 0 && inner <= 127 && rows + inner + count >= 20;
                        ASSERT_EQ(done, expected_fast) << rows << "x" << inner << " by " << count;
                        fast += done ? 1 : 0;
                        EXPECT_TRUE(same_bits(actual, done ? expected : before))
                            << mode << ": " << rows << "x" << inner << " by " << count
                            << (add ? ", added" : ", assigned") << (done ? "" : ", left to the library");
                    }
    });
    if (op::active())
    {
        EXPECT_GT(fast, 500);
    }
}

TEST(OrderedProducts, VectorMatchesTheLibraryBitForBit)
{
    std::mt19937 rng(12);
    in_both_modes([&](const std::string& mode) {
        for (long rows : {8L, 16L, 32L, 48L, 64L, 72L, 128L, 256L, 12L})
            for (long inner : {1L, 2L, 5L, 17L, 33L, 65L, 127L, 128L})
            {
                const std::vector<float> weight = awkward_values(static_cast<size_t>(rows * inner), rng);
                const std::vector<float> input = awkward_values(static_cast<size_t>(inner), rng);
                const std::vector<float> start = awkward_values(static_cast<size_t>(rows), rng);

                // The same types as a model's layer holds.
                const Eigen::MatrixXf w = Eigen::Map<const Eigen::MatrixXf>(weight.data(), rows, inner);
                const Eigen::VectorXf x = Eigen::Map<const Eigen::VectorXf>(input.data(), inner);
                Eigen::VectorXf e = Eigen::Map<const Eigen::VectorXf>(start.data(), rows);
                e.noalias() += w * x;
                const std::vector<float> expected(e.data(), e.data() + rows);

                std::vector<float> actual = start;
                const bool done = op::vector_add(rows, inner, weight.data(), input.data(), actual.data());
                ASSERT_EQ(done, op::active() && rows % 8 == 0 && inner <= 127) << rows << "x" << inner;
                EXPECT_TRUE(same_bits(actual, done ? expected : start)) << mode << ": " << rows << "x" << inner;
            }
    });
}
