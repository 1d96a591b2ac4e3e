#include <numeric>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "core/conv1d.h"
#include "core/conv1x1.h"

namespace
{
Eigen::MatrixXf random_matrix(long rows, long cols, unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    Eigen::MatrixXf m(rows, cols);
    for (long j = 0; j < cols; j++)
        for (long i = 0; i < rows; i++)
            m(i, j) = dist(rng);
    return m;
}

kep::Conv1D conv(int in, int out, int taps, bool bias, int dilation, unsigned seed)
{
    kep::Conv1D c;
    c.set_size_(in, out, taps, bias, dilation);
    for (int k = 0; k < taps; k++)
        c.taps[static_cast<size_t>(k)] = random_matrix(out, in, seed + static_cast<unsigned>(k));
    if (bias)
        c.bias = random_matrix(out, 1, seed + 100);
    return c;
}
} // namespace

TEST(Conv1D, DilatedTapsReadThePast)
{
    const Eigen::MatrixXf x = random_matrix(3, 40, 1);
    {
        const kep::Conv1D c = conv(3, 2, 2, true, 1, 10);
        Eigen::MatrixXf y = Eigen::MatrixXf::Zero(2, 5);
        c.process_(x, y, 20, 5, 0);
        for (long j = 0; j < 5; j++)
        {
            const Eigen::VectorXf expected = c.taps[1] * x.col(20 + j) + c.taps[0] * x.col(19 + j) + c.bias;
            EXPECT_TRUE(y.col(j).isApprox(expected, 1e-5f)) << j;
        }
    }
    {
        const kep::Conv1D c = conv(3, 4, 3, true, 4, 20);
        Eigen::MatrixXf y = Eigen::MatrixXf::Constant(4, 10, 9.0f);
        c.process_(x, y, 30, 6, 2);
        for (long j = 0; j < 6; j++)
        {
            const Eigen::VectorXf expected =
                c.taps[2] * x.col(30 + j) + c.taps[1] * x.col(26 + j) + c.taps[0] * x.col(22 + j) + c.bias;
            EXPECT_TRUE(y.col(2 + j).isApprox(expected, 1e-5f)) << j;
        }
        EXPECT_EQ(y.leftCols(2), Eigen::MatrixXf::Constant(4, 2, 9.0f));
        EXPECT_EQ(y.rightCols(2), Eigen::MatrixXf::Constant(4, 2, 9.0f));
    }
}

TEST(Conv1D, BiasTapsAndEmptyCounts)
{
    const Eigen::MatrixXf x = random_matrix(2, 10, 2);
    const kep::Conv1D plain = conv(2, 2, 1, false, 1, 30);
    EXPECT_EQ(plain.bias.size(), 0);
    Eigen::MatrixXf y(2, 3);
    plain.process_(x, y, 4, 3, 0);
    EXPECT_TRUE(y.isApprox(plain.taps[0] * x.middleCols(4, 3), 1e-6f));

    kep::Conv1D only_bias;
    only_bias.set_size_(2, 2, 0, true, 1);
    only_bias.bias << 1.0f, -1.0f;
    Eigen::MatrixXf kept = Eigen::MatrixXf::Constant(2, 3, 5.0f);
    only_bias.process_(x, kept, 4, 3, 0);
    EXPECT_EQ(kept.row(0), Eigen::RowVectorXf::Constant(3, 6.0f));
    EXPECT_EQ(kept.row(1), Eigen::RowVectorXf::Constant(3, 4.0f));

    Eigen::MatrixXf untouched = Eigen::MatrixXf::Constant(2, 3, 5.0f);
    conv(2, 2, 2, true, 1, 40).process_(x, untouched, 4, 0, 0);
    EXPECT_EQ(untouched, Eigen::MatrixXf::Constant(2, 3, 5.0f));
}

TEST(Conv1x1, WeightOrderAndConsumption)
{
    std::vector<float> weights(10);
    std::iota(weights.begin(), weights.end(), 1.0f);
    kep::Conv1x1 with_bias(3, 2, true);
    auto it = weights.begin();
    with_bias.set_weights_(it);
    EXPECT_EQ(it - weights.begin(), 8);
    EXPECT_EQ(with_bias.weight, (Eigen::MatrixXf(2, 3) << 1, 2, 3, 4, 5, 6).finished());
    EXPECT_EQ(with_bias.bias, (Eigen::VectorXf(2) << 7, 8).finished());

    kep::Conv1x1 no_bias(3, 2, false);
    it = weights.begin();
    no_bias.set_weights_(it);
    EXPECT_EQ(it - weights.begin(), 6);
    EXPECT_EQ(no_bias.bias.size(), 0);

    kep::Conv1x1 empty(0, 2, false);
    it = weights.begin();
    empty.set_weights_(it);
    EXPECT_EQ(it - weights.begin(), 0);
}

TEST(Conv1x1, ProcessAndTheInPlaceFormAgree)
{
    // Row counts on both the fixed-size and the general path, with and without bias.
    for (int out : {1, 3, 4, 8, 6, 16, 32, 40})
        for (bool bias : {false, true})
        {
            kep::Conv1x1 mix(5, out, bias);
            std::vector<float> weights(static_cast<size_t>(5 * out + out));
            std::mt19937 rng(static_cast<unsigned>(out));
            std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
            for (auto& w : weights)
                w = dist(rng);
            auto it = weights.begin();
            mix.set_weights_(it);

            const Eigen::MatrixXf x = random_matrix(5, 12, 3);
            const Eigen::MatrixXf y = mix.process(x);
            ASSERT_EQ(y.rows(), out);
            ASSERT_EQ(y.cols(), 12);
            for (long j = 0; j < 12; j++)
            {
                Eigen::VectorXf expected = mix.weight * x.col(j);
                if (bias)
                    expected += mix.bias;
                EXPECT_TRUE(y.col(j).isApprox(expected, 1e-5f)) << out << " " << j;
            }

            Eigen::MatrixXf into = Eigen::MatrixXf::Constant(out, 9, 7.0f);
            mix.process_(x, 4, 5, into, 3);
            EXPECT_TRUE(into.middleCols(3, 5).isApprox(y.middleCols(4, 5), 1e-5f)) << out;
            EXPECT_EQ(into.leftCols(3), Eigen::MatrixXf::Constant(out, 3, 7.0f));
            EXPECT_EQ(into.rightCols(1), Eigen::MatrixXf::Constant(out, 1, 7.0f));
        }
}

TEST(MixColumns, SumsSourcesOntoInitAndBiasWithStrides)
{
    for (long rows : {8L, 6L})
    {
        const Eigen::MatrixXf w1 = random_matrix(rows, 3, 5), w2 = random_matrix(rows, 1, 6);
        const Eigen::MatrixXf x1 = random_matrix(4, 20, 7), x2 = random_matrix(1, 20, 8); // x1 read at stride 4, rows 0..2
        const Eigen::VectorXf bias = random_matrix(rows, 1, 9);
        const Eigen::MatrixXf init = random_matrix(rows + 2, 20, 10);
        const kep::ColumnSource sources[] = {{w1.data(), 3, x1.data() + 4 * 2, 4}, {w2.data(), 1, x2.data() + 2, 1}};
        Eigen::MatrixXf out = Eigen::MatrixXf::Constant(rows, 10, 3.0f);
        kep::mix_columns(rows, 6, sources, 2, bias.data(), init.data() + (rows + 2), rows + 2, out.data() + rows, rows);
        for (long j = 0; j < 6; j++)
        {
            const Eigen::VectorXf expected = init.col(1 + j).head(rows) + bias + w1 * x1.col(2 + j).head(3)
                                             + w2 * x2.col(2 + j);
            EXPECT_TRUE(out.col(1 + j).isApprox(expected, 1e-5f)) << rows << " " << j;
        }
        EXPECT_EQ(out.col(0), Eigen::VectorXf::Constant(rows, 3.0f));
        EXPECT_EQ(out.rightCols(3), Eigen::MatrixXf::Constant(rows, 3, 3.0f));

        // In place: init is the output itself.
        Eigen::MatrixXf acc = random_matrix(rows, 4, 11);
        const Eigen::MatrixXf before = acc;
        kep::mix_columns(rows, 4, sources, 1, nullptr, acc.data(), rows, acc.data(), rows);
        for (long j = 0; j < 4; j++)
            EXPECT_TRUE(acc.col(j).isApprox(before.col(j) + w1 * x1.col(2 + j).head(3), 1e-5f));
    }
}
