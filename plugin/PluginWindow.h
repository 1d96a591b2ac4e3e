#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class CorvaneAudioProcessor;

// What the processor needs of its open window. The window implements it; the processor calls it
// on the message thread only, having looked the window up as its active editor.
class PluginWindow
{
public:
    virtual ~PluginWindow() = default;

    // Binds the snapshot table to the processor's current catalogue entry and selects the row
    // that plays.
    virtual void applyTableModel() = 0;
    // Shows the sample-rate message exactly when the processor's rate is neither 48 nor 96 kHz.
    virtual void updateSampleRateMessage() = 0;
};

// Builds the plug-in window of a processor; defined with the window.
juce::AudioProcessorEditor* createPluginWindow(CorvaneAudioProcessor& processor);
