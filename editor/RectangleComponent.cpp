#include "editor/RectangleComponent.h"

RectangleComponent::RectangleComponent() = default;

RectangleComponent::~RectangleComponent() = default;

void RectangleComponent::paint(juce::Graphics& g)
{
    g.setColour(colour);
    g.fillRoundedRectangle(0.0f, 0.0f, static_cast<float>(getWidth()), static_cast<float>(getHeight()), 8.0f);
}
