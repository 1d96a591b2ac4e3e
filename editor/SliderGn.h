#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A vertical fader: two thin tracks and a ring-shaped thumb, brighter while hovered.
class SliderGn : public juce::Slider
{
public:
    SliderGn();
    ~SliderGn() override;

    void mouseEnter(const juce::MouseEvent& event) override;
    void mouseExit(const juce::MouseEvent& event) override;
    void paint(juce::Graphics& g) override;

    bool hovered = false;
    double trackWidth = 3.5;  // track width and thumb ring thickness, in pixels
};
