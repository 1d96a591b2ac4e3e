#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A button that looks like a centred label, brighter while the mouse is over it. Its text colour
// is juce::Label::textColourId looked up on the button.
class LabelButton : public juce::Button
{
public:
    explicit LabelButton(const juce::String& name = {});
    ~LabelButton() override;

    void mouseEnter(const juce::MouseEvent& event) override;
    void mouseExit(const juce::MouseEvent& event) override;
    void paintButton(juce::Graphics& g, bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown) override;

    bool hovered = false;
};
