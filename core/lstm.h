#pragma once

#include <vector>

#include <Eigen/Dense>

#include "core/dsp.h"
#include "core/state_copy.h"

namespace kep
{
namespace lstm
{

// One long short-term memory cell. Gates are stored in the order input, forget, cell
// candidate, output; the hidden state lives in the tail of input_and_hidden.
class LSTMCell
{
public:
    // Reads the gate weights (row by row), the gate biases, the initial hidden state and the
    // initial cell state, advancing the iterator. The caller has checked that enough remain.
    LSTMCell(int input_size, int hidden_size, std::vector<float>::iterator& weights);
    // One time step on the input vector x (input_size entries). Allocates nothing.
    void process_(const Eigen::VectorXf& x);

    Eigen::Index hidden_size() const { return cell_state.size(); }
    Eigen::Index input_size() const { return input_and_hidden.size() - cell_state.size(); }

    Eigen::MatrixXf gate_weights;
    Eigen::VectorXf gate_biases;
    Eigen::VectorXf input_and_hidden;
    Eigen::VectorXf gate_values;
    Eigen::VectorXf cell_state;
    Eigen::VectorXf cell_activation; // tanh of the new cell state, for the hidden values
};

// A stack of LSTM cells run once per sample, followed by a linear head on the last hidden state.
class LSTM : public DSP
{
public:
    // Throws std::runtime_error for an "input_size" other than 1, a negative "hidden_size" or
    // fewer weights than the model needs, before anything is sized. Extra weights are ignored.
    LSTM(int num_layers, int input_size, int hidden_size, std::vector<float>& weights, double expected_sample_rate);

    // Allocates nothing.
    void process(float* input, float* output, int num_frames) override;
    // Half a second at the model's own rate; 1 when the file gives no usable rate.
    int PrewarmSamples() override;
    // Keeps every cell's hidden state (the tail of input_and_hidden) and cell state: all that a
    // step reads without having written it. The cells are sized once, so these always fit.
    void remember_state() override;
    void restore_state() override;

    Eigen::VectorXf head_weight;
    float head_bias = 0.0f;
    std::vector<LSTMCell> layers;
    Eigen::VectorXf input;

private:
    // The previous cell's hidden state, copied as the next cell's input.
    Eigen::VectorXf hidden_copy_;
    StateCopy state_copy_;
};

} // namespace lstm
} // namespace kep
