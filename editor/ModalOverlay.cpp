#include "editor/ModalOverlay.h"

ModalOverlay::ModalOverlay() = default;

ModalOverlay::~ModalOverlay() = default;

void ModalOverlay::setContent(juce::Component& dialog)
{
    if (content != nullptr)
        for (int i = getNumChildComponents(); --i >= 0;)
            removeChildComponent(i);

    content = &dialog;
    addAndMakeVisible(dialog);
    dialog.setCentreRelative(0.5f, 0.5f);
}

void ModalOverlay::mouseDown(const juce::MouseEvent&)
{
    setVisible(false);
}

void ModalOverlay::paint(juce::Graphics& g)
{
    // The overlay is added before several other children of the window; coming to the front here
    // puts it above them whenever it is shown.
    toFront(true);
    setPaintingIsUnclipped(true);
    g.fillAll(juce::Colour(0xB2000000));
}

void ModalOverlay::resized()
{
    if (content != nullptr)
        content->setCentreRelative(0.5f, 0.5f);
}
