#include <atomic>
#include <cmath>
#include <thread>

#include "editor_test_util.h"

namespace
{
using EditorConcurrency = plugin_testing::FreshHome;
using namespace editor_testing;

// The window open on the message thread (meter timer, paints, row and model choices) while a host
// thread restores states that change the model and prepares to play at changing rates, and the
// audio thread plays. Under ThreadSanitizer any race between the three fails the test.
TEST_F(EditorConcurrency, WindowOpenWhileHostRestoresAndAudioPlays)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.setPlayConfigDetails(2, 2, 48000.0, 256);
    processor.prepareToPlay(48000.0, 256);
    std::vector<juce::MemoryBlock> states(4);
    const char* ids[] = { "LinearClean", "LstmLead", "ConvCrunch", "WaveHigh" };
    for (size_t i = 0; i < 4; ++i)
    {
        processor.setModel(ids[i], static_cast<int>(i % 3));
        processor.getStateInformation(states[i]);
    }
    auto editor = openEditor(processor);

    std::atomic<bool> stop { false };
    std::atomic<long> nonFinite { 0 }, blocks { 0 }, restores { 0 };
    std::thread audio([&] {
        juce::AudioBuffer<float> buffer(2, 256);
        juce::MidiBuffer midi;
        for (long n = 0; !stop; ++blocks)
        {
            for (int i = 0; i < 256; ++i, ++n)
                buffer.setSample(0, i, 0.3f * std::sin(0.05f * static_cast<float>(n % 100000)));
            processor.processBlock(buffer, midi);
            for (int i = 0; i < 256; ++i)
                nonFinite += std::isfinite(buffer.getSample(0, i)) ? 0 : 1;
        }
    });
    std::thread host([&] {
        const double rates[] = { 48000.0, 96000.0, 44100.0 };
        for (size_t round = 0; !stop; ++round, ++restores)
        {
            const auto& state = states[round % 4];
            processor.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
            processor.prepareToPlay(rates[round % 3], 256);
        }
    });

    const auto deadline = juce::Time::getMillisecondCounter() + 3000;
    for (int round = 0; juce::Time::getMillisecondCounter() < deadline; ++round)
    {
        pumpMessages(5);
        editor->createComponentSnapshot(editor->getLocalBounds());
        editor->snapshotTable.selectRow(round % 3);
        if (round % 25 == 0)
            editor->modelSelectionDialog.onModelChange(ids[round % 2]);
    }
    stop = true;
    audio.join();
    host.join();
    pumpMessages(50);

    EXPECT_EQ(nonFinite.load(), 0);
    EXPECT_GT(blocks.load(), 0);
    EXPECT_GT(restores.load(), 0);
    EXPECT_EQ(editor->tableEntry, processor.modelSource);
}

// A host loading a project constructs instances on its own thread (each loads the settings and
// reads the last choice) while the window records choices on the message thread. Under
// ThreadSanitizer any unguarded use of the shared settings record fails the test.
TEST_F(EditorConcurrency, InstancesConstructedWhileTheWindowRecordsChoices)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);

    std::atomic<int> constructed { 0 };
    std::thread host([&] {
        for (int i = 0; i < 20; ++i, ++constructed)
            CorvaneAudioProcessor instance;
    });
    const char* ids[] = { "LinearClean", "ConvCrunch" };
    for (int round = 0; constructed.load() < 20; ++round)
    {
        editor->snapshotTable.selectRow(round % 2);
        if (round % 3 == 0)
            editor->modelSelectionDialog.onModelChange(ids[round % 2]);
        if (round % 5 == 0)
            editor->uiScalingChosen(round % 2 == 0 ? 100 : 90);
        pumpMessages(1);
    }
    host.join();

    // The file names one model with a row of that model.
    const auto choice = processor.currentChoice();
    EXPECT_EQ(savedSetting(settingsFile(), "LastSelectedModelId").toString(), choice.first);
    EXPECT_EQ(static_cast<int>(savedSetting(settingsFile(), "LastSelectedModelIdx")), choice.second);
}
} // namespace

