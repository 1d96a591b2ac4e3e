#pragma once

#include <cstddef>
#include <vector>

#include <Eigen/Dense>

namespace kep
{

// One term of mix_columns: a column-major weight of `rows` x `inputs` applied to columns of
// `inputs` floats spaced `input_stride` floats apart.
struct ColumnSource
{
    const float* weight = nullptr;
    long inputs = 0;
    const float* input = nullptr;
    long input_stride = 0;
};

// For every column j < count:
//   out(:, j) = init(:, j) (when init is given) + bias (when given) + the sum over the sources of
//               weight * input(:, j).
// Writes into the caller's storage and allocates nothing. init may be out itself; the sources
// must not overlap out. Columns are `rows` floats long and spaced by the given strides.
void mix_columns(long rows, long count, const ColumnSource* sources, std::size_t num_sources, const float* bias,
                 const float* init, long init_stride, float* out, long out_stride);

// Per-sample channel mixer: a convolution with a single tap.
class Conv1x1
{
public:
    Conv1x1() : Conv1x1(0, 0, false) {}
    Conv1x1(int in_channels, int out_channels, bool bias);

    // Reads the weight row by row, then the bias when there is one; advances the iterator.
    void set_weights_(std::vector<float>::iterator& weights);

    // weight * input, plus the bias in every column. Returns a new matrix: not for the audio thread.
    Eigen::MatrixXf process(const Eigen::MatrixXf& input) const;

    // Output columns [output_start, output_start + count) = weight * input columns
    // [input_start, input_start + count), plus the bias. Allocates nothing; input and output must
    // be different matrices.
    void process_(const Eigen::MatrixXf& input, long input_start, long count, Eigen::MatrixXf& output,
                  long output_start) const;

    long get_in_channels() const { return weight.cols(); }
    long get_out_channels() const { return weight.rows(); }

    Eigen::MatrixXf weight;
    Eigen::VectorXf bias;
    bool has_bias = false;
};

} // namespace kep
