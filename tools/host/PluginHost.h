#pragma once

#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

namespace ferrowick_host
{

// A VST3 plug-in loaded from its bundle folder (the ".vst3" directory, not the library inside).
struct LoadedPlugin
{
    juce::PluginDescription description;
    std::unique_ptr<juce::AudioPluginInstance> instance;
};

// Scans the bundle and creates an instance of its first plug-in, prepared for the given rate and
// block size. Needs the framework initialised (juce::ScopedJuceInitialiser_GUI) on this thread.
// On failure the instance is null and error says why.
LoadedPlugin loadVst3Bundle(const juce::File& bundle, double sampleRate, int blockSize, juce::String& error);

} // namespace ferrowick_host
