#include "editor/FlatButton.h"

#include <cmath>

#include "editor/EmbeddedFonts.h"

FlatButton::FlatButton(const juce::String& name) : juce::Button(name) {}

FlatButton::~FlatButton() = default;

void FlatButton::mouseEnter(const juce::MouseEvent&)
{
    hovered = true;
    setMouseCursor(juce::MouseCursor::PointingHandCursor);
    repaint();
}

void FlatButton::mouseExit(const juce::MouseEvent&)
{
    hovered = false;
    setMouseCursor(juce::MouseCursor::NormalCursor);
    repaint();
}

void FlatButton::paintButton(juce::Graphics& g, bool, bool shouldDrawButtonAsDown)
{
    const int w = getWidth();
    const int h = getHeight();

    juce::Colour background;
    if (shouldDrawButtonAsDown)
        background = findColour(backgroundColourId).darker(0.05f);
    else if (hovered)
        background = findColour(backgroundHoverColourId);
    else
        background = findColour(backgroundColourId);
    g.setColour(background);
    g.fillRoundedRectangle(1.0f, 1.0f, static_cast<float>(w - 2), static_cast<float>(h - 2), 4.0f);

    g.setColour(findColour(hovered ? textHoverColourId : textColourId));

    const auto height = static_cast<float>(static_cast<double>(fontSize) * (static_cast<double>(h) / 24.0));
    const auto font = embeddedFont(EmbeddedFace::DisplayThin, height);
    g.setFont(font);

    const auto text = getButtonText();
    float x = 0.0f;
    if (!leftAligned)
    {
        const auto textWidth = std::ceil(font.getStringWidthFloat(text));
        const auto total = textWidth + static_cast<float>(text.length() - 1) * tracking;
        x = centred ? (static_cast<float>(w) - total) * 0.5f : static_cast<float>(w) - total - 20.0f;
    }

    for (auto it = text.getCharPointer(); !it.isEmpty(); ++it)
    {
        const auto character = juce::String::charToString(*it);
        const auto characterWidth = font.getStringWidthFloat(character);
        g.drawText(character, static_cast<int>(x), 0, w, h, juce::Justification::centredLeft, true);
        x = x + characterWidth + tracking;
    }
}
