#include "core/convnet.h"

#include <stdexcept>

namespace kep
{
namespace convnet
{

// Placeholder until the architecture is built.
ConvNet::ConvNet(int, const std::vector<int>&, bool, const std::string&, std::vector<float>&, double expected_sample_rate_)
    : Buffer(0, expected_sample_rate_)
{
    throw std::runtime_error("ConvNet is not available yet");
}

void ConvNetBlock::set_weights_(int, int, int, bool, const std::string, std::vector<float>::iterator&) {}
void ConvNet::process(float*, float*, int) {}
void ConvNet::_update_buffers_(float* input, int num_frames) { Buffer::_update_buffers_(input, num_frames); }
void ConvNet::_rewind_buffers_() { Buffer::_rewind_buffers_(); }

} // namespace convnet
} // namespace kep
