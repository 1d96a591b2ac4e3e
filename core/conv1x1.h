#pragma once

#include <vector>

#include <Eigen/Dense>

namespace kep
{

// Per-sample channel mixer: a convolution with a single tap.
class Conv1x1
{
public:
    Conv1x1() : Conv1x1(0, 0, false) {}
    Conv1x1(int in_channels, int out_channels, bool bias);

    // Reads the weight row by row, then the bias when there is one; advances the iterator.
    void set_weights_(std::vector<float>::iterator& weights);

    // weight * input, plus the bias in every column.
    Eigen::MatrixXf process(const Eigen::MatrixXf& input) const;

    long get_in_channels() const { return weight.cols(); }
    long get_out_channels() const { return weight.rows(); }

    Eigen::MatrixXf weight;
    Eigen::VectorXf bias;
    bool has_bias = false;
};

} // namespace kep
