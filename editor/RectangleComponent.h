#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A rounded rectangle in one colour.
class RectangleComponent : public juce::Component
{
public:
    RectangleComponent();
    ~RectangleComponent() override;

    void paint(juce::Graphics& g) override;

    juce::Colour colour {0x00FFFFFF};
};
