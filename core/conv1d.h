#pragma once

#include <vector>

#include <Eigen/Dense>

namespace kep
{

// Causal, dilated convolution over time. Signals are matrices with one row per channel and one
// column per sample. With K taps, tap k multiplies the input dilation * (K - 1 - k) samples back.
class Conv1D
{
public:
    // Shapes the layer; the tap values are left for the caller to fill.
    void set_size_(int in_channels, int out_channels, int kernel_size, bool do_bias, int dilation);

    // Output columns [output_start, output_start + count) from the input columns ending at
    // input_start + count - 1. The input must hold dilation * (K - 1) columns before input_start.
    void process_(const Eigen::MatrixXf& input, Eigen::MatrixXf& output, long input_start, long count,
                  long output_start) const;

    long get_in_channels() const { return taps.empty() ? 0 : taps[0].cols(); }
    long get_out_channels() const { return taps.empty() ? 0 : taps[0].rows(); }
    long get_kernel_size() const { return static_cast<long>(taps.size()); }

    std::vector<Eigen::MatrixXf> taps;
    Eigen::VectorXf bias;
    int dilation = 1;
};

} // namespace kep
