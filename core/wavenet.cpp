#include "core/wavenet.h"

#include <stdexcept>

namespace kep
{
namespace wavenet
{

// Placeholder until the architecture is built.
WaveNet::WaveNet(const std::vector<LayerArrayParams>&, float, bool, std::vector<float>&, double expected_sample_rate_)
    : DSP(expected_sample_rate_)
{
    throw std::runtime_error("WaveNet is not available yet");
}

void WaveNet::process(float*, float*, int) {}
void WaveNet::_set_condition_array(float*, int) {}

} // namespace wavenet
} // namespace kep
