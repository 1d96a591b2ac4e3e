#include "core/activations.h"

#include <cmath>

#include "core/vector_math.h"

namespace kep
{
namespace activations
{

// The shared, stateless instances; nothing ever deletes them.
ActivationTanh _TANH;
ActivationFastTanh _FAST_TANH;
ActivationHardTanh _HARD_TANH;
ActivationReLU _RELU;
ActivationLeakyReLU _LEAKY_RELU;
ActivationSigmoid _SIGMOID;

std::unordered_map<std::string, Activation*> Activation::_activations = {
    {"Tanh", &_TANH},     {"Hardtanh", &_HARD_TANH},     {"Fasttanh", &_FAST_TANH},
    {"ReLU", &_RELU},     {"LeakyReLU", &_LEAKY_RELU},   {"Sigmoid", &_SIGMOID},
};

void Activation::apply(Eigen::MatrixXf& matrix)
{
    apply(matrix.data(), static_cast<long>(matrix.rows() * matrix.cols()));
}

void Activation::apply(Eigen::Block<Eigen::MatrixXf, -1, -1, false> block)
{
    apply(block.data(), static_cast<long>(block.rows() * block.cols()));
}

void Activation::apply(Eigen::Block<Eigen::MatrixXf, -1, -1, true> block)
{
    apply(block.data(), static_cast<long>(block.rows() * block.cols()));
}

Activation* Activation::get_activation(const std::string name)
{
    const auto found = _activations.find(name);
    return found == _activations.end() ? nullptr : found->second;
}

void ActivationTanh::apply(float* data, long size) { vector_math::tanh(data, size); }

void ActivationFastTanh::apply(float* data, long size)
{
    for (long i = 0; i < size; i++)
        data[i] = fast_tanh(data[i]);
}

void ActivationHardTanh::apply(float* data, long size)
{
    for (long i = 0; i < size; i++)
    {
        const float x = data[i];
        // Written with comparisons that are false for NaN, so NaN passes through.
        data[i] = x > 1.0f ? 1.0f : (x < -1.0f ? -1.0f : x);
    }
}

void ActivationReLU::apply(float* data, long size)
{
    for (long i = 0; i < size; i++)
        data[i] = data[i] > 0.0f ? data[i] : 0.0f;
}

void ActivationLeakyReLU::apply(float* data, long size)
{
    constexpr float slope = 0.01f;
    for (long i = 0; i < size; i++)
        data[i] = data[i] > 0.0f ? data[i] : slope * data[i];
}

void ActivationSigmoid::apply(float* data, long size) { vector_math::sigmoid(data, size); }

} // namespace activations
} // namespace kep
