#pragma once

#include <array>
#include <atomic>
#include <memory>
#include <mutex>

#include <juce_audio_processors/juce_audio_processors.h>

#include "audio/Biquad.h"
#include "audio/BypassDelay.h"
#include "audio/EntryExchange.h"
#include "audio/ModelChain.h"
#include "plugin/LeftoverCollector.h"
#include "plugin/ModelSource.h"
#include "audio/ToneFilters.h"

// The host-facing audio processor: one per plug-in instance.
//
// Threads: models and catalogue entries are loaded on whichever thread asks for them (the
// constructing thread, the message thread, a host thread restoring state); those threads take
// `loadLock` among themselves. The audio thread takes no lock and allocates nothing: it reaches
// the current entry through `entries` (EntryExchange) and its models through the entry's
// ModelSlots, and it never frees either; what it lets go of is freed by the loading side: at
// the next change, or by `leftovers` on the message thread within a fraction of a second.
// An open editor is told about changes on the message thread only: directly when the change is
// made there, through `editorMailbox` otherwise; `modelPicture` is swapped under `pictureLock`,
// which the editor's paint takes to copy the picture handle.
class CorvaneAudioProcessor : public juce::AudioProcessor, public juce::AudioProcessorParameter::Listener
{
public:
    CorvaneAudioProcessor();
    ~CorvaneAudioProcessor() override;

    const juce::String getName() const override;
    void prepareToPlay(double sampleRate, int maximumExpectedSamplesPerBlock) override;
    void releaseResources() override;
    // Makes the next block start from the signal state of a fresh instance. Safe on any thread.
    void reset() override;
    using AudioProcessor::processBlock;
    void processBlock(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
    using AudioProcessor::processBlockBypassed;
    // The host's bypass: the dry input, late by the reported latency, never a NaN or an infinity.
    void processBlockBypassed(juce::AudioBuffer<float>& buffer, juce::MidiBuffer& midiMessages) override;
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
    // gain and loads the snapshot's picture. A snapshot that cannot play (no model file, or one
    // that fails to load) changes nothing, the entry's snapshot index included, and records the
    // reason in modelLoadError.
    void setProgram(int index);
    // setProgram for the entry that the caller shows, in the same step as the check that it is
    // still current: after a host restore has replaced it, nothing changes.
    void setProgramOf(const ModelSource& shown, int index);

    // The current entry's id and snapshot index, read together from one entry.
    std::pair<juce::String, int> currentChoice();

    // The current entry, shared with the caller (the editor keeps the entry that its table shows
    // alive), and its snapshot index, read together.
    struct CurrentEntry
    {
        std::shared_ptr<ModelSource> entry;
        int programIndex = -1;
    };
    CurrentEntry currentEntry();

    // A handle on the current model picture (invalid when there is none), taken under the
    // picture lock so that it never overlaps the picture's replacement by setProgram.
    juce::Image currentPicture();

    juce::AudioProcessorValueTreeState valueTreeState;
    std::shared_ptr<ModelSource> modelSource;
    std::atomic<float> inputLevel { 0.0f };
    std::unique_ptr<juce::Image> modelPicture;
    std::array<float, 1067> decimatorHistory {};
    std::array<float, 1067> interpolatorHistory {};
    std::atomic<int32_t> sampleRate { 48000 };
    ferrowick::OnePoleLowpass lowpassFilter;
    ferrowick::DcBlocker dcBlocker;
    ferrowick::Biquad bassCutFilter;
    ferrowick::Biquad bassBoostFilter;
    std::atomic<bool> stereoOut { true };
    juce::String programName { "-----" };
    // Why the last model file failed to load; empty after a successful load.
    juce::String modelLoadError;

private:
    // Carries the changes that reach an open editor from threads other than the message thread
    // (a host thread restoring state or preparing to play) over to the message thread. The calls
    // posted there share it, so that one arriving after the processor is deleted (a host may
    // delete it on any thread) finds no processor; `lock` makes the deletion wait for a delivery
    // under way.
    struct EditorMailbox
    {
        explicit EditorMailbox(CorvaneAudioProcessor* owner) : processor(owner) {}

        std::mutex lock;
        CorvaneAudioProcessor* processor; // null once the processor is being deleted
        std::atomic<bool> table { false }, picture { false }, sampleRateMessage { false };
        std::atomic<bool> posted { false }; // a delivery is on its way
    };

    void loadProgram(const ModelSource* shown, int index);
    // Installs the entry of id; null when the id is ignored or the entry could not be built.
    std::shared_ptr<ModelSource> installEntryLocked(const juce::String& id);
    // True when the picture was replaced (the editor is to be repainted).
    bool setProgramLocked(ModelSource& entry, int index);
    // Tells an open editor at once on the message thread, or through the mailbox from elsewhere.
    void notifyEditor(std::atomic<bool> EditorMailbox::*change);
    void deliverToEditor(bool table, bool picture, bool sampleRateMessage);
    // The audio path from the gain adjustment to the output gain, in place. False when the block
    // is to be silent (unsupported rate, no model, or the model threw).
    bool runModel(ModelSource& entry, float* samples, int n, float gainIn, float gainOut);
    // The processor's signal state that the model chain carries from block to block.
    ferrowick::ChainState chainState();
    // Audio thread, at the start of a block: a pending reset() brings every signal state back to a
    // fresh instance's (the bypass delay set to the latency), and lets a model that threw play
    // again.
    void carryOutReset(ModelSource* entry);
    // The input channels that the bypass delays (at most two).
    int delayedChannels(const juce::AudioBuffer<float>& buffer) const;

    std::mutex loadLock;
    std::mutex pictureLock; // guards modelPicture between setProgram and the editor's paint
    ferrowick::EntryExchange<ModelSource> entries;
    // After `entries`, so that it stops before the exchange goes.
    LeftoverCollector leftovers { entries };
    ferrowick::ModelChain modelChain;
    // The input channels (at most two) as a bypassed block plays them.
    std::array<ferrowick::BypassDelay, 2> bypassDelays;
    // Set by reset() and prepareToPlay; the audio thread clears the signal state at its next block.
    std::atomic<bool> resetRequested { false };
    // The parameter objects themselves: their values are atomics and hold the default unsnapped
    // (0.666667, 0 dB), whereas the tree's raw values start from the default snapped to the
    // 0.0001 step (0.6667, +0.002 dB).
    juce::AudioParameterFloat* gainInParameter = nullptr;
    juce::AudioParameterFloat* gainOutParameter = nullptr;
    std::shared_ptr<EditorMailbox> editorMailbox = std::make_shared<EditorMailbox>(this);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(CorvaneAudioProcessor)
};
