#pragma once

#include <array>

#include <juce_audio_processors/juce_audio_processors.h>

// Ids of the two gain parameters, in parameter index order.
inline constexpr std::array<const char*, 2> ParameterIds { "GainIn", "GainOut" };

// Default position of both gain faders: 0 dB (the value is exactly the float 0.666667f).
inline constexpr float GainDefaultValue = 0.666667f;

// Text of a gain parameter value: the dB value (value * 60 - 40) with one decimal and " dB".
juce::String gainValueText(float value, int maximumStringLength);

// The parameter layout of "GainIn" and "GainOut"; the listener is registered with each parameter.
juce::AudioProcessorValueTreeState::ParameterLayout createParameterLayout(juce::AudioProcessorParameter::Listener& listener);
