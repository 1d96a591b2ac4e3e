#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "core/activations.h"

using kep::activations::Activation;

namespace
{
const float not_a_number = std::numeric_limits<float>::quiet_NaN();
const float inf = std::numeric_limits<float>::infinity();

std::vector<float> applied(const char* name, std::vector<float> values)
{
    Activation::get_activation(name)->apply(values.data(), static_cast<long>(values.size()));
    return values;
}

float one(const char* name, float x) { return applied(name, {x})[0]; }
} // namespace

TEST(ActivationRegistry, HoldsExactlyTheSixNamesWithSharedInstances)
{
    EXPECT_EQ(Activation::_activations.size(), 6u);
    EXPECT_EQ(Activation::get_activation("Tanh"), Activation::get_activation("Tanh"));
    EXPECT_NE(dynamic_cast<kep::activations::ActivationTanh*>(Activation::get_activation("Tanh")), nullptr);
    EXPECT_NE(dynamic_cast<kep::activations::ActivationHardTanh*>(Activation::get_activation("Hardtanh")), nullptr);
    EXPECT_NE(dynamic_cast<kep::activations::ActivationFastTanh*>(Activation::get_activation("Fasttanh")), nullptr);
    EXPECT_NE(dynamic_cast<kep::activations::ActivationReLU*>(Activation::get_activation("ReLU")), nullptr);
    EXPECT_NE(dynamic_cast<kep::activations::ActivationLeakyReLU*>(Activation::get_activation("LeakyReLU")), nullptr);
    EXPECT_NE(dynamic_cast<kep::activations::ActivationSigmoid*>(Activation::get_activation("Sigmoid")), nullptr);
    for (const char* name : {"tanh", "HardTanh", "FastTanh", "relu", "Leakyrelu", "sigmoid", "", "Tanh "})
        EXPECT_EQ(Activation::get_activation(name), nullptr) << name;
    EXPECT_EQ(Activation::_activations.size(), 6u);
}

TEST(ActivationValues, LibraryFunctionsAndClamps)
{
    for (float x : {-3.0f, -0.5f, 0.0f, 0.25f, 4.0f})
    {
        EXPECT_EQ(one("Tanh", x), tanhf(x));
        EXPECT_EQ(one("Sigmoid", x), 1.0f / (expf(-x) + 1.0f));
    }
    EXPECT_EQ(one("Sigmoid", 0.0f), 0.5f);
    EXPECT_EQ(applied("Hardtanh", {-inf, -2.0f, -0.5f, 0.75f, 3.0f, inf}),
              (std::vector<float>{-1.0f, -1.0f, -0.5f, 0.75f, 1.0f, 1.0f}));
    EXPECT_EQ(one("LeakyReLU", -2.0f), 0.01f * -2.0f);
    EXPECT_EQ(one("LeakyReLU", 3.0f), 3.0f);
    EXPECT_EQ(applied("ReLU", {-1.0f, 2.5f}), (std::vector<float>{0.0f, 2.5f}));
}

TEST(ActivationValues, NaNAndNegativeZero)
{
    EXPECT_TRUE(std::isnan(one("Hardtanh", not_a_number)));
    EXPECT_TRUE(std::isnan(one("LeakyReLU", not_a_number)));
    const float relu_nan = one("ReLU", not_a_number), relu_zero = one("ReLU", -0.0f);
    EXPECT_EQ(relu_nan, 0.0f);
    EXPECT_FALSE(std::signbit(relu_nan));
    EXPECT_EQ(relu_zero, 0.0f);
    EXPECT_FALSE(std::signbit(relu_zero));
}

TEST(ActivationValues, FastTanhApproximation)
{
    EXPECT_EQ(one("Fasttanh", 0.0f), 0.0f);
    for (float x : {0.1f, 0.8f, 2.0f, 9.0f, 100.0f})
        EXPECT_EQ(one("Fasttanh", -x), -one("Fasttanh", x)) << x;
    EXPECT_NEAR(one("Fasttanh", 1.0f), 0.76184f, 2e-5f);
    EXPECT_GT(one("Fasttanh", 10.0f), 1.0f);
    EXPECT_NEAR(one("Fasttanh", 10.0f), 1.00033f, 2e-5f);
    // The loop gives the same values as the one-value form, whatever the grouping.
    std::vector<float> values(37);
    for (size_t i = 0; i < values.size(); i++)
        values[i] = static_cast<float>(i) * 0.37f - 6.0f;
    const auto result = applied("Fasttanh", values);
    for (size_t i = 0; i < values.size(); i++)
        EXPECT_EQ(result[i], kep::activations::fast_tanh(values[i]));
}

TEST(ActivationApply, SizesAndBlockForms)
{
    std::vector<float> data{-1.0f, -2.0f};
    Activation::get_activation("ReLU")->apply(data.data(), 0);
    Activation::get_activation("ReLU")->apply(data.data(), -4);
    EXPECT_EQ(data, (std::vector<float>{-1.0f, -2.0f}));

    Activation* relu = Activation::get_activation("ReLU");
    Eigen::MatrixXf whole = -Eigen::MatrixXf::Ones(2, 3);
    relu->apply(whole);
    EXPECT_TRUE(whole.isZero());

    Eigen::MatrixXf columns = -Eigen::MatrixXf::Ones(3, 4);
    relu->apply(columns.middleCols(1, 2)); // inner-panel block
    EXPECT_TRUE(columns.middleCols(1, 2).isZero());
    EXPECT_EQ(columns.col(0), -Eigen::VectorXf::Ones(3));
    EXPECT_EQ(columns.col(3), -Eigen::VectorXf::Ones(3));

    Eigen::MatrixXf rows = -Eigen::MatrixXf::Ones(5, 2);
    relu->apply(rows.block(0, 1, 3, 1)); // rows 0 to 2 of one column
    EXPECT_EQ(rows.col(1), (Eigen::VectorXf(5) << 0, 0, 0, -1, -1).finished());
    EXPECT_EQ(rows.col(0), -Eigen::VectorXf::Ones(5));
}
