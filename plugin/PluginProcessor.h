#pragma once

#include <array>
#include <atomic>
#include <memory>

#include <juce_audio_processors/juce_audio_processors.h>

#include "plugin/Biquad.h"
#include "plugin/ModelSource.h"
#include "plugin/ToneFilters.h"

// The host-facing audio processor: one per plug-in instance.
class CorvaneAudioProcessor : public juce::AudioProcessor, public juce::AudioProcessorParameter::Listener
{
public:
    CorvaneAudioProcessor();
    ~CorvaneAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    using AudioProcessor::processBlock;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    double getTailLengthSeconds() const override;
    bool acceptsMidi() const override;
    bool producesMidi() const override;
    bool isMidiEffect() const override;
    juce::AudioProcessorEditor* createEditor() override;
    bool hasEditor() const override;
    int getNumPrograms() override;
    int getCurrentProgram() override;
    void setCurrentProgram(int index) override;
    const juce::String getProgramName(int index) override;
    void changeProgramName(int index, const juce::String& newName) override;
    void getStateInformation(juce::MemoryBlock& destData) override;
    void setStateInformation(const void* data, int sizeInBytes) override;
    bool isBusesLayoutSupported(const BusesLayout& layouts) const override;

    void parameterValueChanged(int parameterIndex, float newValue) override;
    void parameterGestureChanged(int parameterIndex, bool gestureIsStarting) override;

    // Makes the catalogue entry of id current and loads its snapshot index. An empty id is
    // ignored while the current entry has a model id.
    void setModel(juce::String id, int index);
    // Loads snapshot index of the current entry into its pending-model slot, sets its loudness
    // gain and loads the snapshot's picture. A model file that fails to load leaves the slots,
    // the gain and the picture as they were and records the reason in modelLoadError.
    void setProgram(int index);

    juce::AudioProcessorValueTreeState valueTreeState;
    std::shared_ptr<ModelSource> modelSource;
    std::atomic<float> inputLevel { 0.0f };
    std::unique_ptr<juce::Image> modelPicture;
    std::array<float, 1067> decimatorHistory {};
    std::array<float, 1067> interpolatorHistory {};
    int32_t sampleRate = 48000;
    OnePoleLowpass lowpassFilter;
    DcBlocker dcBlocker;
    Biquad bassCutFilter;
    Biquad bassBoostFilter;
    bool stereoOut = true;
    juce::String programName { "-----" };
    // Why the last model file failed to load; empty after a successful load.
    juce::String modelLoadError;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CorvaneAudioProcessor)
};
