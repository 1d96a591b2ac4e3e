// The audio thread neither allocates nor frees memory while it plays, hands models over and
// switches entries, with the fixture models of every architecture.

#include <atomic>
#include <thread>

#include "alloc_counter.h"
#include "audio_reference.h"

namespace
{
using namespace proc_testing;
using RealTime = CatalogueHome;

// Blocks of assorted lengths (odd ones included), prepared before anything is counted.
class Blocks
{
public:
    Blocks()
    {
        for (int n : { 1, 255, 256, 1000, 64, 333, 2048, 7 })
        {
            buffers.emplace_back(2, n);
            lengths.push_back(n);
        }
    }

    // Plays `count` blocks (bypassed ones, as the host's bypass plays them, when asked) and returns
    // what the calling thread allocated and freed meanwhile.
    alloc_counter::Counts play(CorvaneAudioProcessor& processor, int count, bool bypassed = false)
    {
        alloc_counter::Counts total;
        for (int i = 0; i < count; ++i)
        {
            auto& buffer = buffers[next % buffers.size()];
            const int n = lengths[next % lengths.size()];
            ++next;
            for (int j = 0; j < n; ++j)
            {
                const float v = 0.3f * std::sin(0.05f * static_cast<float>(j + i));
                buffer.setSample(0, j, v);
                buffer.setSample(1, j, v);
            }
            alloc_counter::Scope scope;
            if (bypassed)
                processor.processBlockBypassed(buffer, midi);
            else
                processor.processBlock(buffer, midi);
            total.allocations += scope.counts().allocations;
            total.deallocations += scope.counts().deallocations;
        }
        return total;
    }

private:
    std::vector<juce::AudioBuffer<float>> buffers;
    std::vector<int> lengths;
    juce::MidiBuffer midi;
    size_t next = 0;
};

#define EXPECT_NOTHING_ALLOCATED(counts, what)                                                                         \
    do                                                                                                                 \
    {                                                                                                                  \
        const auto c_ = (counts);                                                                                      \
        EXPECT_EQ(c_.allocations, 0u) << what;                                                                         \
        EXPECT_EQ(c_.deallocations, 0u) << what;                                                                       \
    } while (false)

TEST_F(RealTime, AudioThreadNeitherAllocatesNorFrees)
{
    if (!alloc_counter::enabled())
        GTEST_SKIP() << "allocation counting is off under sanitizers";
    makeCatalogue();

    for (const double rate : { 48000.0, 96000.0 })
    {
        SCOPED_TRACE(rate);
        CorvaneAudioProcessor processor;
        processor.prepareToPlay(rate, 2048);
        Blocks blocks;

        // A host's reset() between blocks, and the blocks that carry it out.
        auto resetAndPlay = [&](const char* what) {
            alloc_counter::Counts counts;
            {
                alloc_counter::Scope scope;
                processor.reset();
                counts = scope.counts();
            }
            EXPECT_NOTHING_ALLOCATED(counts, what);
            EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), what);
        };

        // A Linear model has no warm-up; its input history is sized when it is loaded, so even its
        // first block allocates nothing.
        processor.setModel("LinearClean", 0);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 24), "Linear");
        resetAndPlay("Linear after reset");
        processor.setProgram(1);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "Linear after setProgram");

        // Hand-offs between blocks: each block after a change is counted too.
        processor.setModel("ConvCrunch", 0);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 12), "ConvNet after setModel");
        resetAndPlay("ConvNet after reset");
        processor.setProgram(1);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 12), "ConvNet (batch norm) after setProgram");
        processor.setModel("LstmLead", 0);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 12), "LSTM after setModel");
        resetAndPlay("LSTM after reset");
        processor.setModel("WaveHigh", 0);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 12), "WaveNet after setModel");
        resetAndPlay("WaveNet after reset");
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 8, true), "bypassed");
        processor.reset();
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4, true), "bypassed after reset");
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "WaveNet after bypass");
        processor.setProgram(1); // no model file: the WaveNet plays on
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "missing model file");
        processor.setProgram(2); // broken model file
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "broken model file");
        processor.setModel("ConvCrunch", 1);
        processor.setProgram(0); // replaces a model that never played
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 8), "two loads between blocks");
        for (int round = 0; round < 6; ++round)
        {
            processor.setProgram(round % 2);
            EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 2), "ConvNet snapshot switching");
        }

        // Silent paths: an entry without a model and an unsupported rate.
        processor.setModel("WaveHigh", 1);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "no model");
        processor.setModel("LstmLead", 0);
        processor.prepareToPlay(44100.0, 2048);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "unsupported rate");
        processor.prepareToPlay(rate, 2048);
        EXPECT_NOTHING_ALLOCATED(blocks.play(processor, 4), "pending model after an unsupported rate");
    }
}

TEST_F(RealTime, SwitchingWhileAnotherThreadPlays)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.prepareToPlay(96000.0, 2048);
    processor.setModel("ConvCrunch", 0);

    std::atomic<bool> done { false };
    std::atomic<int> played { 0 };
    alloc_counter::Counts audioCounts;
    bool finite = true;
    std::thread audio([&] {
        Blocks blocks;
        while (!done.load() || played.load() < 50)
        {
            const auto counts = blocks.play(processor, 1);
            audioCounts.allocations += counts.allocations;
            audioCounts.deallocations += counts.deallocations;
            played.fetch_add(1);
        }
        juce::AudioBuffer<float> last(2, 256);
        last.clear();
        juce::MidiBuffer midi;
        processor.processBlock(last, midi);
        for (int i = 0; i < 256; ++i)
            finite = finite && std::isfinite(last.getSample(0, i));
    });

    const char* ids[] = { "ConvCrunch", "LstmLead", "WaveHigh" };
    for (int round = 0; round < 30; ++round)
    {
        processor.setModel(ids[round % 3], 0);
        if (round % 3 == 0)
            processor.setProgram(1);
        juce::MemoryBlock state;
        processor.getStateInformation(state);
    }
    done.store(true);
    audio.join();

    EXPECT_GE(played.load(), 50);
    EXPECT_TRUE(finite);
    if (alloc_counter::enabled())
    {
        EXPECT_EQ(audioCounts.allocations, 0u);
        EXPECT_EQ(audioCounts.deallocations, 0u);
    }
}

} // namespace
