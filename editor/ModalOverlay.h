#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// A dark layer over the whole window that hosts one dialog at a time. A click that reaches the
// layer itself (outside the dialog) hides it.
class ModalOverlay : public juce::Component
{
public:
    ModalOverlay();
    ~ModalOverlay() override;

    // Makes the dialog the overlay's only content, visible and centred. Does not show the overlay.
    void setContent(juce::Component& dialog);

    void mouseDown(const juce::MouseEvent& event) override;
    void paint(juce::Graphics& g) override;
    void resized() override;

    juce::Component* content = nullptr;  // not owned
};
