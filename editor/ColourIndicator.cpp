#include "editor/ColourIndicator.h"

ColourIndicator::ColourIndicator()
{
    setOpaque(true);
}

ColourIndicator::~ColourIndicator() = default;

void ColourIndicator::paint(juce::Graphics& g)
{
    g.setColour(juce::Colour(0xFF232323));
    g.fillRect(0, 0, getWidth(), getHeight());
    g.setColour(colour);
    g.fillRoundedRectangle(0.0f, 0.0f, static_cast<float>(getWidth()), static_cast<float>(getHeight()), 2.0f);
}
