#include <cmath>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "test_support.h"

#include "alloc_counter.h"
#include "core/lstm.h"
#include "core_test_util.h"

using core_test::load_error;
using core_test::record;
using core_test::run_blocks;
using nlohmann::json;

namespace
{
json config(int layers, int input, int hidden)
{
    return {{"num_layers", layers}, {"input_size", input}, {"hidden_size", hidden}};
}

size_t weight_count(size_t layers, size_t hidden)
{
    if (layers == 0)
        return hidden + 1;
    return 4 * hidden * (1 + hidden) + 6 * hidden + (layers - 1) * (8 * hidden * hidden + 6 * hidden) + hidden + 1;
}

std::vector<float> random_weights(size_t count, unsigned seed)
{
    return testing_support::uniform_values(count, seed, -0.6f, 0.6f);
}

std::unique_ptr<kep::DSP> lstm(int layers, int hidden, std::vector<float> weights, double rate = -1.0)
{
    kep::dspData data = record("LSTM", config(layers, 1, hidden), std::move(weights), nullptr, rate);
    return kep::get_dsp(data);
}

// A plain LSTM stack that reads the weights in file order and steps sample by sample.
class ReferenceLstm
{
public:
    ReferenceLstm(size_t layers, size_t hidden, const std::vector<float>& weights) : h_(hidden)
    {
        size_t w = 0;
        for (size_t l = 0; l < layers; l++)
        {
            Cell cell;
            const size_t x = l == 0 ? 1 : hidden;
            cell.weights.assign(4 * hidden, std::vector<float>(x + hidden));
            for (auto& row : cell.weights)
                for (auto& value : row)
                    value = weights[w++];
            cell.biases.assign(weights.begin() + static_cast<long>(w), weights.begin() + static_cast<long>(w + 4 * hidden));
            w += 4 * hidden;
            cell.hidden.assign(weights.begin() + static_cast<long>(w), weights.begin() + static_cast<long>(w + hidden));
            w += hidden;
            cell.cell.assign(weights.begin() + static_cast<long>(w), weights.begin() + static_cast<long>(w + hidden));
            w += hidden;
            cells_.push_back(cell);
        }
        head_.assign(weights.begin() + static_cast<long>(w), weights.begin() + static_cast<long>(w + hidden));
        bias_ = weights[w + hidden];
    }

    float step(float sample)
    {
        std::vector<float> x{sample};
        for (auto& cell : cells_)
        {
            std::vector<float> joined(x);
            joined.insert(joined.end(), cell.hidden.begin(), cell.hidden.end());
            std::vector<float> gate(4 * h_);
            for (size_t r = 0; r < 4 * h_; r++)
            {
                float sum = cell.biases[r];
                for (size_t c = 0; c < joined.size(); c++)
                    sum += cell.weights[r][c] * joined[c];
                gate[r] = sum;
            }
            const auto sigmoid = [](float v) { return 1.0f / (expf(-v) + 1.0f); };
            for (size_t k = 0; k < h_; k++)
            {
                cell.cell[k] = sigmoid(gate[h_ + k]) * cell.cell[k] + sigmoid(gate[k]) * tanhf(gate[2 * h_ + k]);
                cell.hidden[k] = sigmoid(gate[3 * h_ + k]) * tanhf(cell.cell[k]);
            }
            x = cell.hidden;
        }
        if (cells_.empty())
            return sample;
        float out = bias_;
        for (size_t k = 0; k < h_; k++)
            out += head_[k] * x[k];
        return out;
    }

private:
    struct Cell
    {
        std::vector<std::vector<float>> weights;
        std::vector<float> biases, hidden, cell;
    };
    size_t h_;
    std::vector<Cell> cells_;
    std::vector<float> head_;
    float bias_ = 0.0f;
};

// Counts the calls that the warm-up makes.
class CountingLstm : public kep::lstm::LSTM
{
public:
    using LSTM::LSTM;
    void process(float* input, float* output, int num_frames) override
    {
        calls++;
        LSTM::process(input, output, num_frames);
    }
    int calls = 0;
};

std::vector<float> test_signal(size_t count)
{
    std::vector<float> signal(count);
    for (size_t i = 0; i < count; i++)
        signal[i] = 0.8f * std::sin(0.013f * static_cast<float>(i)) + 0.3f * std::sin(0.41f * static_cast<float>(i));
    return signal;
}
} // namespace

// --- Weight counts ------------------------------------------------------------------------------

TEST(LstmWeights, CountsAndOrder)
{
    EXPECT_EQ(weight_count(1, 2), 39u);
    std::vector<float> weights(39);
    for (size_t i = 0; i < weights.size(); i++)
        weights[i] = static_cast<float>(i);
    kep::lstm::LSTM model(1, 1, 2, weights, -1.0);
    ASSERT_EQ(model.layers.size(), 1u);
    const auto& cell = model.layers[0];
    EXPECT_EQ(cell.gate_weights.rows(), 8);
    EXPECT_EQ(cell.gate_weights.cols(), 3);
    EXPECT_EQ(cell.gate_weights(0, 2), 2.0f); // row by row
    EXPECT_EQ(cell.gate_weights(1, 0), 3.0f);
    EXPECT_EQ(cell.gate_biases(0), 24.0f);
    EXPECT_EQ(cell.input_and_hidden(1), 32.0f); // initial hidden state after the input slot
    EXPECT_EQ(cell.cell_state(1), 35.0f);
    EXPECT_EQ(model.head_weight(0), 36.0f);
    EXPECT_EQ(model.head_bias, 38.0f);

    // Extra weights are ignored; one too few is refused.
    weights.push_back(99.0f);
    EXPECT_NO_THROW(lstm(1, 2, weights));
    const std::string message = load_error(record("LSTM", config(1, 1, 2), std::vector<float>(38)));
    EXPECT_NE(message.find("fewer weights"), std::string::npos) << message;
    EXPECT_NE(load_error(record("LSTM", config(3, 1, 2), std::vector<float>(weight_count(3, 2) - 1))).find("fewer"),
              std::string::npos);
    EXPECT_NO_THROW(lstm(3, 2, std::vector<float>(weight_count(3, 2))));
}

// --- Worked examples ----------------------------------------------------------------------------

TEST(LstmExamples, ZeroCellsOutputTheHeadBias)
{
    std::vector<float> weights(39, 0.0f);
    weights[36] = 5.0f; // a head weight: multiplies a hidden state that stays 0
    weights[38] = -0.75f;
    EXPECT_EQ(run_blocks(*lstm(1, 2, weights), test_signal(50), {7}), std::vector<float>(50, -0.75f));
}

TEST(LstmExamples, CellStateHalvesEachSample)
{
    // H = 1: 4 x 2 gate weights, 4 biases, hidden, cell, head weight, head bias.
    std::vector<float> weights(weight_count(1, 1), 0.0f);
    weights[13] = 1.0f; // initial cell state
    weights[14] = 1.0f; // head weight: the output is the hidden state
    kep::lstm::LSTM model(1, 1, 1, weights, -1.0); // not warmed up
    float in[2] = {0.3f, -0.7f}, out[2];
    model.process(in, out, 1);
    EXPECT_EQ(model.layers[0].cell_state(0), 0.5f);
    EXPECT_FLOAT_EQ(out[0], 0.5f * std::tanh(0.5f));
    model.process(in + 1, out + 1, 1);
    EXPECT_EQ(model.layers[0].cell_state(0), 0.25f);
    EXPECT_FLOAT_EQ(out[1], 0.5f * std::tanh(0.25f));
}

TEST(LstmExamples, NoLayersPassTheInputThrough)
{
    auto model = lstm(0, 3, {1.0f, 2.0f, 3.0f, 4.0f});
    const auto input = test_signal(20);
    EXPECT_EQ(run_blocks(*model, input, {6}), input);
    EXPECT_EQ(load_error(record("LSTM", config(0, 1, 3), {1.0f, 2.0f, 3.0f})).find("Invalid LSTM"), 0u);
}

// --- Warm-up --------------------------------------------------------------------------------------

TEST(LstmWarmUp, HalfASecondAtTheModelsRate)
{
    const std::vector<float> weights(39, 0.0f);
    const auto samples = [&](double rate)
    {
        std::vector<float> w(weights);
        return kep::lstm::LSTM(1, 1, 2, w, rate).PrewarmSamples();
    };
    EXPECT_EQ(samples(48000.0), 24000);
    EXPECT_EQ(samples(44100.0), 22050);
    EXPECT_EQ(samples(5.0), 2);
    EXPECT_EQ(samples(3.0), 1);
    EXPECT_EQ(samples(-1.0), 1);
    EXPECT_EQ(samples(1e10), 1);
    EXPECT_EQ(samples(std::nan("")), 1);

    std::vector<float> w(weights);
    CountingLstm at48k(1, 1, 2, w, 48000.0);
    at48k.prewarm();
    EXPECT_EQ(at48k.calls, 47);
    CountingLstm unknown(1, 1, 2, w, -1.0);
    unknown.prewarm();
    EXPECT_EQ(unknown.calls, 1);
}

// --- Streaming --------------------------------------------------------------------------------------

TEST(LstmStreaming, AnyBlockScheduleMatchesAPlainReference)
{
    const size_t layers = 3, hidden = 5;
    const auto weights = random_weights(weight_count(layers, hidden), 4);
    const auto input = test_signal(3000);
    ReferenceLstm reference(layers, hidden, weights);
    for (int i = 0; i < 512; i++) // the warm-up's silence
        reference.step(0.0f);
    std::vector<float> expected;
    for (float x : input)
        expected.push_back(reference.step(x));

    const auto whole = run_blocks(*lstm(layers, hidden, weights), input, {3000});
    for (size_t t = 0; t < input.size(); t++)
        ASSERT_NEAR(whole[t], expected[t], 1e-5f) << t;
    // The model works sample by sample: every schedule gives exactly the same output.
    EXPECT_EQ(run_blocks(*lstm(layers, hidden, weights), input, {256, 256, 232, 1, 17, 512}), whole);

    // A block of 0 samples changes no state.
    auto model = lstm(layers, hidden, weights);
    float x = 1.0f, y = 7.0f;
    model->process(&x, &y, 0);
    EXPECT_EQ(y, 7.0f);
    EXPECT_EQ(run_blocks(*model, input, {100}), whole);
}

// --- Refusals -------------------------------------------------------------------------------------

TEST(LstmRefusals, MalformedConfigsAreRefusedAtLoad)
{
    const std::vector<float> weights(1000, 0.0f);
    const auto refuses = [&](const json& cfg, const std::string& words)
    {
        const std::string message = load_error(record("LSTM", cfg, weights));
        EXPECT_NE(message.find(words), std::string::npos) << message;
    };
    refuses(config(1, 2, 2), "\"input_size\" must be 1");
    refuses(config(1, 0, 2), "\"input_size\" must be 1");
    refuses(config(1, 1, -2), "\"hidden_size\" must not be negative");
    refuses(config(0, 1, -2), "\"hidden_size\" must not be negative");
    refuses(config(2147483647, 1, 0), "\"hidden_size\" must be positive when \"num_layers\" is 1 or more (got "
                                      "hidden_size 0 with num_layers 2147483647)");
    // Absurd sizes fail the weight count without overflow and before anything is sized.
    refuses(config(1, 1, 2147483647), "fewer weights");
    refuses(config(2147483647, 1, 1), "fewer weights");
    refuses(config(2, 1, 1 << 30), "fewer weights");
    EXPECT_TRUE(core_test::ends_with(load_error(record("LSTM", {{"num_layers", 1}}, weights)),
                                     "type must be number, but is null"));
}

// --- Real time -------------------------------------------------------------------------------------

TEST(LstmRealTime, ProcessAllocatesNothing)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    auto model = lstm(2, 16, random_weights(weight_count(2, 16), 8), 48000.0);
    const auto input = test_signal(512);
    std::vector<float> output(512);
    const std::vector<int> lengths{256, 256, 232, 1, 17, 512};
    alloc_counter::Scope scope;
    for (int i = 0; i < 60; i++)
        model->process(const_cast<float*>(input.data()), output.data(), lengths[static_cast<size_t>(i) % lengths.size()]);
    EXPECT_EQ(scope.counts().allocations, 0u);
    EXPECT_EQ(scope.counts().deallocations, 0u);
}
