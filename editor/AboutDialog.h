#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/LabelButton.h"

// The about dialog: product name, version and maker, and the maker's web address as a link.
class AboutDialog : public juce::Component
{
public:
    AboutDialog();
    ~AboutDialog() override;

    void paint(juce::Graphics& g) override;
    void resized() override;

    juce::Label titleLabel;
    LabelButton linkButton;
};
