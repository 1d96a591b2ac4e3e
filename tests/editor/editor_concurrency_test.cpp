#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "editor_test_util.h"

namespace
{
using EditorConcurrency = plugin_testing::FreshHome;
using editor_testing::openEditor;
using editor_testing::pumpMessages;

// The window open on the message thread (meter timer, paints, row choices, model choices) while a
// host thread restores states that change the model and prepares to play at changing rates, and
// the audio thread plays. Built and run under ThreadSanitizer, where any race between the three
// fails the test; without it, the blocks must stay finite and nothing may crash.
TEST_F(EditorConcurrency, WindowOpenWhileHostRestoresAndAudioPlays)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.setPlayConfigDetails(2, 2, 48000.0, 256);
    processor.prepareToPlay(48000.0, 256);

    std::vector<juce::MemoryBlock> states;
    for (const auto& [id, index] : { std::pair<const char*, int> { "LinearClean", 1 }, { "LstmLead", 0 },
                                      { "ConvCrunch", 1 }, { "WaveHigh", 2 } })
    {
        processor.setModel(id, index);
        processor.getStateInformation(states.emplace_back());
    }
    auto editor = openEditor(processor);

    std::atomic<bool> stop { false };
    std::atomic<long> nonFinite { 0 }, blocks { 0 }, restores { 0 };
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        for (long sample = 0; !stop.load(); ++blocks)
        {
            for (int i = 0; i < 256; ++i, ++sample)
                for (int ch = 0; ch < 2; ++ch)
                    buffer.setSample(ch, i, 0.3f * std::sin(0.05f * static_cast<float>(sample % 100000)));
            processor.processBlock(buffer, midi);
            for (int i = 0; i < 256; ++i)
                if (!std::isfinite(buffer.getSample(0, i)))
                    nonFinite++;
        }
    });
    std::thread host([&] {
        const double rates[] = { 48000.0, 96000.0, 44100.0, 48000.0 };
        for (size_t round = 0; !stop.load(); ++round, ++restores)
        {
            const auto& state = states[round % states.size()];
            processor.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
            if (round % 3 == 0)
                processor.prepareToPlay(rates[(round / 3) % 4], 256);
        }
    });

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    for (int round = 0; std::chrono::steady_clock::now() < deadline; ++round)
    {
        pumpMessages(5);
        editor->createComponentSnapshot(editor->getLocalBounds());
        editor->snapshotTable.selectRow(round % 3);
        if (round % 25 == 0)
            editor->modelSelectionDialog.onModelChange(round % 50 == 0 ? "LstmLead" : "LinearClean");
    }
    stop = true;
    audio.join();
    host.join();
    pumpMessages(50);

    EXPECT_EQ(nonFinite.load(), 0);
    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(restores.load(), 0);
    EXPECT_EQ(editor->tableEntry, processor.modelSource);
    editor.reset();
}
} // namespace
