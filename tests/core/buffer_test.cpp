#include <vector>

#include <gtest/gtest.h>

#include "core/dsp.h"

namespace
{

// Records its calls and the history it sees; otherwise a plain Buffer.
class ProbeBuffer : public kep::Buffer
{
public:
    ProbeBuffer(int receptive_field, int prewarm) : Buffer(receptive_field, -1.0), prewarm_count(prewarm) {}
    void process(float* input, float*, int n) override
    {
        calls.push_back(n);
        _update_buffers_(input, n);
        input_buffer_offset += n;
    }
    int PrewarmSamples() override { return prewarm_count; }
    void _rewind_buffers_() override
    {
        rewinds++;
        Buffer::_rewind_buffers_();
    }
    std::vector<int> calls;
    int prewarm_count;
    int rewinds = 0;
};

} // namespace

TEST(ModelBase, BaseProcessCopiesAndResetOnlyRecords)
{
    kep::DSP dsp(44100.0);
    EXPECT_DOUBLE_EQ(dsp.expected_sample_rate, 44100.0);
    EXPECT_EQ(dsp.max_buffer_size, 512);
    EXPECT_EQ(dsp.PrewarmSamples(), 0);
    float in[3] = {1, 2, 3}, out[3] = {0, 0, 0};
    dsp.process(in, out, 3);
    EXPECT_EQ(std::vector<float>(out, out + 3), (std::vector<float>{1, 2, 3}));
    dsp.Reset(96000.0, 64);
    EXPECT_TRUE(dsp.has_host_sample_rate);
    EXPECT_DOUBLE_EQ(dsp.host_sample_rate, 96000.0);
    EXPECT_EQ(dsp.max_buffer_size, 64);
}

TEST(ModelBase, PrewarmRunsWholeChunksOfSilence)
{
    for (auto [samples, expected] : std::vector<std::pair<int, std::vector<int>>>{
             {0, {}}, {-5, {}}, {1, {512}}, {512, {512}}, {1000, {512, 512}}})
    {
        ProbeBuffer probe(4, samples);
        probe.prewarm();
        EXPECT_EQ(probe.calls, expected) << samples;
    }
    ProbeBuffer tiny(4, 3);
    tiny.max_buffer_size = 0; // below 2: one sample per call
    tiny.prewarm();
    EXPECT_EQ(tiny.calls, (std::vector<int>{1, 1, 1}));
}

TEST(InputHistory, StartsAsThirtyTwoReceptiveFieldsOfZeros)
{
    ProbeBuffer probe(4, 0);
    EXPECT_EQ(probe.input_buffer.size(), 128u);
    EXPECT_EQ(probe.input_buffer_offset, 4);
    ProbeBuffer empty(0, 0);
    EXPECT_TRUE(empty.input_buffer.empty());
    EXPECT_EQ(empty.input_buffer_offset, 0);
    EXPECT_THROW(ProbeBuffer(-1, 0), std::runtime_error);
}

TEST(InputHistory, RewindsWhenFullAndKeepsTheNewestSamples)
{
    ProbeBuffer probe(4, 0);
    for (int i = 0; i < 124; i++)
    {
        float x = static_cast<float>(i + 1), y;
        probe.process(&x, &y, 1);
    }
    EXPECT_EQ(probe.input_buffer_offset, 128);
    EXPECT_EQ(probe.rewinds, 0);
    float x = 125.0f, y;
    probe.process(&x, &y, 1);
    EXPECT_EQ(probe.rewinds, 1);
    EXPECT_EQ(probe.input_buffer_offset, 5);
    EXPECT_EQ(std::vector<float>(probe.input_buffer.begin(), probe.input_buffer.begin() + 5),
              (std::vector<float>{121, 122, 123, 124, 125}));

    // A block of 0 samples copies nothing and rewinds nothing.
    probe.process(&x, &y, 0);
    EXPECT_EQ(probe.input_buffer_offset, 5);
    EXPECT_EQ(probe.rewinds, 1);
}

TEST(InputHistory, GrowsToAPowerOfTwoAndClearsEverything)
{
    ProbeBuffer big(100, 0);
    EXPECT_EQ(big.input_buffer.size(), 3200u);
    std::vector<float> block(512, 1.0f), out(512);
    big.process(block.data(), out.data(), 512);
    EXPECT_EQ(big.input_buffer.size(), 32768u);
    big.process(block.data(), out.data(), 256);
    EXPECT_EQ(big.input_buffer.size(), 32768u);

    ProbeBuffer keeps(4, 0);
    std::vector<float> three{1, 2, 3};
    keeps.process(three.data(), out.data(), 3); // minimum 100: no growth
    EXPECT_EQ(keeps.input_buffer.size(), 128u);
    std::vector<float> four{4, 5, 6, 7};
    keeps.process(four.data(), out.data(), 4); // minimum 132: grows to 256 and clears
    EXPECT_EQ(keeps.input_buffer.size(), 256u);
    EXPECT_EQ(keeps.input_buffer_offset, 11);
    for (int i = 0; i < 7; i++)
        EXPECT_EQ(keeps.input_buffer[static_cast<size_t>(i)], 0.0f) << i;
    EXPECT_EQ(std::vector<float>(keeps.input_buffer.begin() + 7, keeps.input_buffer.begin() + 11), four);

    ProbeBuffer zero(0, 0);
    zero.process(three.data(), out.data(), 3);
    EXPECT_EQ(zero.input_buffer.size(), 128u); // first power of two not below 96

    // Reset leaves the history alone.
    const auto before = keeps.input_buffer;
    keeps.Reset(96000.0, 64);
    EXPECT_EQ(keeps.input_buffer, before);
    EXPECT_EQ(keeps.input_buffer_offset, 11);
}
