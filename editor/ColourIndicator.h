#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The input meter's pill: a dark opaque ground with a rounded area in the meter's colour. The
// level is the meter's remembered value, kept here for the editor's meter timer.
class ColourIndicator : public juce::Component
{
public:
    ColourIndicator();
    ~ColourIndicator() override;

    void paint(juce::Graphics& g) override;

    float level = -36.0f;  // dB
    juce::Colour colour {0x00FFFFFF};
};
