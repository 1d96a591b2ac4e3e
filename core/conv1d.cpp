#include "core/conv1d.h"

#include "core/ordered_products.h"

namespace kep
{

void Conv1D::set_size_(int in_channels, int out_channels, int kernel_size, bool do_bias, int dilation_)
{
    taps.resize(static_cast<size_t>(kernel_size));
    for (auto& tap : taps)
        tap.resize(out_channels, in_channels);
    if (do_bias)
        bias.resize(out_channels);
    else
        bias.resize(0);
    dilation = dilation_;
}

void Conv1D::process_(const Eigen::MatrixXf& input, Eigen::MatrixXf& output, long input_start, long count,
                      long output_start) const
{
    if (count <= 0)
        return;
    const long kernel_size = static_cast<long>(taps.size());
    auto out = output.middleCols(output_start, count);
    for (long k = 0; k < kernel_size; k++)
    {
        const long offset = static_cast<long>(dilation) * (k + 1 - kernel_size);
        const auto in = input.middleCols(input_start + offset, count);
        const Eigen::MatrixXf& tap = taps[static_cast<size_t>(k)];
        if (ordered_products::columns(tap.rows(), tap.cols(), count, tap.data(), in.data(), input.rows(), out.data(),
                                      output.rows(), k > 0))
            continue;
        if (k == 0)
            out.noalias() = tap * in;
        else
            out.noalias() += tap * in;
    }
    if (bias.size() > 0)
        out.colwise() += bias;
}

} // namespace kep
