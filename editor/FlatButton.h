#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A text button drawn in the thin display face with letter spacing, on a rounded background.
// The text is right-aligned with a margin of 20 pixels unless leftAligned or centred is set.
class FlatButton : public juce::Button
{
public:
    enum ColourIds
    {
        backgroundColourId = 0x200006,
        backgroundHoverColourId = 0x200007,
        textColourId = 0x200009,
        textHoverColourId = 0x20000A
    };

    explicit FlatButton(const juce::String& name = {});
    ~FlatButton() override;

    void mouseEnter(const juce::MouseEvent& event) override;
    void mouseExit(const juce::MouseEvent& event) override;
    void paintButton(juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    bool hovered = false;
    float fontSize = 20.0f;  // text height for a button 24 pixels high; scales with the height
    float tracking = 0.0f;   // extra space after each character, in pixels
    bool leftAligned = false;
    bool centred = false;
};
