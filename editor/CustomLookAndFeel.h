#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The window's look and feel: its colour table, its default sans-serif typeface (Open Sans
// SemiBold) and the drawing of text-button backgrounds and table header columns.
class CustomLookAndFeel : public juce::LookAndFeel_V4
{
public:
    CustomLookAndFeel();
    ~CustomLookAndFeel() override;

    void drawButtonBackground(juce::Graphics& g, juce::Button& button, const juce::Colour& backgroundColour,
                              bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    void drawTableHeaderColumn(juce::Graphics& g, juce::TableHeaderComponent& header, const juce::String& columnName,
                               int columnId, int width, int height, bool isMouseOver, bool isMouseDown,
                               int columnFlags) override;
};
