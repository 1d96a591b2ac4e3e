// Fuzz target: host state bytes through setStateInformation of a fresh processor, then a block
// of audio and a save. The catalogue holds two folders of the project's test catalogue: two
// Linear snapshots, and a WaveNet snapshot, one without a model file and one with a broken file
// (the other folders' ids then name no folder). The processor starts with the quick Linear one.
// What readStateBlock returns must nest no deeper than the bound that its scan checks.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string>

#include <juce_events/juce_events.h>

#include "core/load_limits.h"
#include "fuzz_support.h"
#include "plugin/PluginProcessor.h"
#include "plugin/StateBlock.h"

namespace
{
// Levels of elements, text left out.
int depth(const juce::XmlElement& element)
{
    int deepest = 0;
    for (const auto* child : element.getChildIterator())
        if (!child->isTextElement())
            deepest = std::max(deepest, depth(*child));
    return deepest + 1;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (const char* folder : { "LinearClean", "WaveHigh" })
    {
        const std::string command = "python3 \"" FERROWICK_SOURCE_DIR "/tools/make_catalogue.py\" \""
                                    + fuzz_support::resourceDir().string() + "\" --only " + folder;
        if (std::system(command.c_str()) != 0)
            std::abort();
    }
    const std::string settings = R"({"LastSelectedModelId": "LinearClean", "LastSelectedModelIdx": 0})";
    fuzz_support::writeFile(fuzz_support::resourceDir() / "Settings.json",
                            reinterpret_cast<const uint8_t*>(settings.data()), settings.size());
    // Kept for the whole run; never destroyed.
    static auto* framework = new juce::ScopedJuceInitialiser_GUI();
    (void)framework;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > static_cast<size_t>(std::numeric_limits<int>::max()))
        return 0;
    if (const auto xml = readStateBlock(data, static_cast<int>(size)))
        if (depth(*xml) > kep::load_limits::max_nesting)
            std::abort();

    CorvaneAudioProcessor processor;
    processor.prepareToPlay(48000.0, 64);
    processor.setStateInformation(data, static_cast<int>(size));

    juce::AudioBuffer<float> buffer(2, 64);
    for (int i = 0; i < 64; i++)
        buffer.setSample(0, i, 0.3f * std::sin(0.1f * static_cast<float>(i)));
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);

    juce::MemoryBlock saved;
    processor.getStateInformation(saved);
    return 0;
}
