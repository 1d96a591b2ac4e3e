#include "core/conv1x1.h"

namespace kep
{

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

} // namespace kep
