#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "plugin/PluginProcessor.h"
#include "plugin_test_util.h"

namespace
{
using Concurrency = plugin_testing::FreshHome;

// Plays blocks on one thread while another switches models and snapshots and saves and restores
// the host state as fast as it can. Built and run under ThreadSanitizer in CI, where any data
// race, use after free or lock-order problem between the two sides fails the test; without the
// sanitizer it still checks that every block stays finite and nothing crashes.
void switchWhilePlaying(Concurrency& fixture, double rate)
{
    CorvaneAudioProcessor processor;
    processor.setPlayConfigDetails(2, 2, rate, 256);
    processor.prepareToPlay(rate, 256);

    const auto ids = ModelSource::getModelIds();
    ASSERT_GE(ids.size(), 2);

    std::atomic<bool> stop { false };
    std::atomic<long> blocks { 0 }, audibleBlocks { 0 }, nonFinite { 0 };
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        long sample = 0;
        while (!stop.load())
        {
            for (int i = 0; i < 256; ++i, ++sample)
            {
                const float x = 0.3f * std::sin(0.05f * static_cast<float>(sample % 100000));
                buffer.setSample(0, i, x);
                buffer.setSample(1, i, x);
            }
            // Now and then the host resets the instance on its audio thread between blocks, and
            // bypasses it for a few blocks.
            if (blocks % 16 == 15)
                processor.reset();
            if (blocks % 32 >= 29)
                processor.processBlockBypassed(buffer, midi);
            else
                processor.processBlock(buffer, midi);
            bool audible = false;
            for (int ch = 0; ch < 2; ++ch)
                for (int i = 0; i < 256; ++i)
                {
                    const float y = buffer.getSample(ch, i);
                    if (!std::isfinite(y))
                        nonFinite++;
                    audible = audible || y != 0.0f;
                }
            blocks++;
            if (audible)
                audibleBlocks++;
        }
    });

    juce::MemoryBlock saved;
    processor.getStateInformation(saved);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    int round = 0;
    while (round < 12 || std::chrono::steady_clock::now() < deadline)
    {
        ++round;
        processor.setModel(ids[round % ids.size()], round % 3);
        processor.setProgram((round + 1) % 3);
        juce::MemoryBlock state;
        processor.getStateInformation(state);
        if (round % 4 == 0)
            processor.setStateInformation(saved.getData(), static_cast<int>(saved.getSize()));
        if (round % 5 == 0)
            saved = state;
        if (round > 400)
            break;
    }
    // Let the audio side take over the last model before stopping.
    const auto settle = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    const long before = audibleBlocks.load();
    while (audibleBlocks.load() == before && std::chrono::steady_clock::now() < settle)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    stop = true;
    audio.join();

    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(audibleBlocks.load(), 0);
    EXPECT_EQ(nonFinite.load(), 0);
    (void) fixture;
}

TEST_F(Concurrency, SwitchingModelsAndStateWhileAudioRunsAt48k)
{
    makeCatalogue();
    switchWhilePlaying(*this, 48000.0);
}

TEST_F(Concurrency, SwitchingModelsAndStateWhileAudioRunsAt96k)
{
    makeCatalogue();
    switchWhilePlaying(*this, 96000.0);
}

// A host may create and delete instances on a thread of its own. Each one sends its changes to the
// message thread (the model table, the sample-rate message) and may be deleted while the message
// thread delivers them; under ThreadSanitizer a delivery that reaches a deleted instance fails.
// (Without a catalogue an instance is quick to make, so the deletions come thick and fast.)
TEST_F(Concurrency, InstancesDeletedOnAHostThreadWhileTheirChangesAreDelivered)
{
    constexpr int count = 3000;
    std::atomic<int> deleted { 0 };
    std::thread host([&] {
        for (int i = 0; i < count; ++i, ++deleted)
        {
            CorvaneAudioProcessor instance;
            instance.prepareToPlay(48000.0, 256);
        }
    });
    while (deleted.load() < count)
        juce::dispatchNextMessageOnSystemQueue(true);
    host.join();
    plugin_testing::pumpMessages(20);
    EXPECT_EQ(deleted.load(), count);
}
} // namespace
