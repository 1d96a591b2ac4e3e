#pragma once

#include <string>
#include <unordered_map>

#include <Eigen/Dense>

namespace kep
{
namespace activations
{

// Element-wise nonlinearity, applied in place. The block forms treat the block as one run of
// rows x cols consecutive floats: callers pass only runs of whole columns or rows of one column.
class Activation
{
public:
    virtual ~Activation() = default;
    virtual void apply(Eigen::MatrixXf& matrix);
    virtual void apply(Eigen::Block<Eigen::MatrixXf, -1, -1, false> block);
    virtual void apply(Eigen::Block<Eigen::MatrixXf, -1, -1, true> block);
    virtual void apply(float* data, long size) = 0;

    // The registered instance for name (exact, case-sensitive), or nullptr.
    static Activation* get_activation(const std::string name);

    static std::unordered_map<std::string, Activation*> _activations;
};

class ActivationTanh : public Activation
{
public:
    ~ActivationTanh() override {}
    using Activation::apply;
    void apply(float* data, long size) override;
};

class ActivationFastTanh : public Activation
{
public:
    ~ActivationFastTanh() override {}
    using Activation::apply;
    void apply(float* data, long size) override;
};

class ActivationHardTanh : public Activation
{
public:
    ~ActivationHardTanh() override {}
    using Activation::apply;
    void apply(float* data, long size) override;
};

class ActivationReLU : public Activation
{
public:
    ~ActivationReLU() override {}
    using Activation::apply;
    void apply(float* data, long size) override;
};

class ActivationLeakyReLU : public Activation
{
public:
    ~ActivationLeakyReLU() override {}
    using Activation::apply;
    void apply(float* data, long size) override;
};

class ActivationSigmoid : public Activation
{
public:
    ~ActivationSigmoid() override {}
    using Activation::apply;
    void apply(float* data, long size) override;
};

// The rational tanh approximation of ActivationFastTanh, for one value.
inline float fast_tanh(float x)
{
    const float a = x < 0.0f ? -x : x;
    const float s = x * x;
    const float n = ((0.82122666f * a + 0.89322984f) * s + (2.4555075f * a + 2.4555075f)) * x;
    const float d_abs = (x * 0.8146427f) * a + x;
    const float d = (d_abs < 0.0f ? -d_abs : d_abs) * (s + 2.4450665f) + 2.4450665f;
    return n / d;
}

} // namespace activations
} // namespace kep
