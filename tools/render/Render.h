#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

namespace ferrowick_render
{

// A strummed, decaying six-string chord (plucked-string synthesis with a fixed seed), mono,
// peaking at -6 dBFS. The same call gives the same samples.
juce::AudioBuffer<float> makePluckedChord(double sampleRate, double seconds);

struct Levels
{
    float rms = 0.0f;   // over every sample of every channel
    float peak = 0.0f;  // largest magnitude
    bool finite = true; // no NaN or infinity anywhere
};

Levels measure(const juce::AudioBuffer<float>& buffer);

// A linear level as dBFS text with one decimal, "-inf" for 0.
juce::String dbfs(float level);

// Gives the instance one mono input and a stereo output (or, where it refuses that, stereo in
// and out, then whatever it has) and prepares it for the rate and block size. Returns the
// number of output channels, 0 when the instance has no usable layout.
int prepareMonoIn(juce::AudioPluginInstance& plugin, double sampleRate, int blockSize);

// Runs the mono input through the prepared instance in blocks of blockSize samples (the last
// one shorter) and returns its outputs, as many channels as it has outputs. Input channel 0
// carries the signal; any further input channel is silent.
juce::AudioBuffer<float> renderThrough(juce::AudioPluginInstance& plugin, const juce::AudioBuffer<float>& monoInput,
                                       int blockSize);

// The latency, in samples, that the prepared instance reports to its host. Runs the message loop
// for a moment first (call it on the message thread), so that a latency the plug-in announced
// while it was prepared has arrived.
int reportedLatency(juce::AudioPluginInstance& plugin);

} // namespace ferrowick_render
