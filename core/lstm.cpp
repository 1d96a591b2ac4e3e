#include "core/lstm.h"

#include <stdexcept>

namespace kep
{
namespace lstm
{

// Placeholder until the architecture is built.
LSTMCell::LSTMCell(int, int, std::vector<float>::iterator&) {}
void LSTMCell::process_(const Eigen::VectorXf&) {}

LSTM::LSTM(int, int, int, std::vector<float>&, double expected_sample_rate_) : DSP(expected_sample_rate_)
{
    throw std::runtime_error("LSTM is not available yet");
}

void LSTM::process(float*, float*, int) {}
int LSTM::PrewarmSamples() { return 0; }

} // namespace lstm
} // namespace kep
