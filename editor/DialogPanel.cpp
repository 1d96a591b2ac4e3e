#include "editor/DialogPanel.h"

void paintDialogPanel(juce::Graphics& g, int width, int height)
{
    g.setColour(juce::Colour(0xFF1A1A1A));
    g.fillRoundedRectangle(0.0f, 0.0f, static_cast<float>(width), static_cast<float>(height), 5.0f);
    g.setColour(juce::Colour(0x80FFFFFF));
    const auto middle = static_cast<float>(width / 2);
    g.drawLine(middle, 10.0f, middle, static_cast<float>(height - 10), 2.0f);
}
