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

// The bytes of the plug-in component's state (IComponent::getState): the plug-in's own state block
// and what the framework's VST3 wrapper appends to it. Empty when the state cannot be read.
juce::MemoryBlock readComponentState(juce::AudioPluginInstance& plugin);

// Hands bytes to the component's state function (IComponent::setState) the way a host restores a
// project, and, when `toController` is set, the same bytes to the edit controller's setState.
// Call on the message thread.
void writeComponentState(juce::AudioPluginInstance& plugin, const juce::MemoryBlock& bytes, bool toController = false);

// The plug-in's own state document (the parameter tree with "ModelId" and "ProgramIndex"). The
// VST3 hosting keeps it base64-encoded in the "IComponent" child of a "VST3PluginState" document;
// both levels use the framework's binary XML wrapper. Null when the state cannot be read.
std::unique_ptr<juce::XmlElement> readPluginState(juce::AudioPluginInstance& plugin);

// Hands a plug-in state document to the instance the way a host restores a project: wrapped as
// above and passed to setStateInformation. Call on the message thread.
void writePluginState(juce::AudioPluginInstance& plugin, const juce::XmlElement& state);

// The text of the state's "ModelId" child, or "<none>" when it has none.
juce::String stateModelId(const juce::XmlElement& state);
// The text of the state's "ProgramIndex" child, or "<none>" when it has none.
juce::String stateProgramIndex(const juce::XmlElement& state);
// The state's document with "ModelId" and "ProgramIndex" set to the given choice.
std::unique_ptr<juce::XmlElement> withModelChoice(const juce::XmlElement& state, const juce::String& modelId,
                                                  int programIndex);

} // namespace ferrowick_host
