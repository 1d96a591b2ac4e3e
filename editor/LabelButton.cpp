#include "editor/LabelButton.h"

#include "editor/EmbeddedFonts.h"

LabelButton::LabelButton(const juce::String& name) : juce::Button(name) {}

LabelButton::~LabelButton() = default;

void LabelButton::mouseEnter(const juce::MouseEvent&)
{
    hovered = true;
    setMouseCursor(juce::MouseCursor::PointingHandCursor);
    repaint();
}

void LabelButton::mouseExit(const juce::MouseEvent&)
{
    hovered = false;
    setMouseCursor(juce::MouseCursor::NormalCursor);
    repaint();
}

void LabelButton::paintButton(juce::Graphics& g, bool, bool)
{
    g.setFont(embeddedFont(EmbeddedFace::OpenSansLight, 24.0f));
    g.setColour(findColour(juce::Label::textColourId).withAlpha(static_cast<juce::uint8>(hovered ? 0xE6 : 0xB2)));
    g.drawText(getButtonText(), 0, 0, getWidth(), getHeight(), juce::Justification::centred, true);
}
