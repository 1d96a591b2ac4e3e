#include "editor/SliderGn.h"

#include <cmath>

namespace
{
// While hovered every colour of the fader is 1.3 times as opaque (at most fully opaque).
juce::Colour hoverColour(juce::Colour colour, bool hovered)
{
    if (!hovered)
        return colour;
    const auto alpha = std::nearbyint(static_cast<double>(colour.getAlpha()) * 1.3);
    return colour.withAlpha(static_cast<juce::uint8>(juce::jmin(255.0, alpha)));
}
} // namespace

SliderGn::SliderGn()
{
    setSliderStyle(juce::Slider::RotaryVerticalDrag);
    setTextBoxStyle(juce::Slider::NoTextBox, false, 70, 25);
    setRange(0.0, 1.0, 0.0);
}

SliderGn::~SliderGn() = default;

void SliderGn::mouseEnter(const juce::MouseEvent& event)
{
    hovered = true;
    juce::Slider::mouseEnter(event);
}

void SliderGn::mouseExit(const juce::MouseEvent& event)
{
    hovered = false;
    juce::Slider::mouseExit(event);
}

void SliderGn::paint(juce::Graphics& g)
{
    const auto range = getRange();
    const double p = (getValue() - range.getStart()) / (range.getEnd() - range.getStart());

    const int w = getWidth();
    const int h = getHeight();
    const int cx = w / 2;
    const double tw = trackWidth;
    const double top = std::trunc(tw) + 8.0;
    const double bottom = h - std::trunc(tw) - 8.0;
    const double thumbY = top + (bottom - top) * (1.0 - p);
    const auto left = static_cast<float>(cx - tw / 2.0);

    const double upperHeight = thumbY - top - 8.0;
    if (upperHeight > 0.0)
    {
        g.setColour(hoverColour(findColour(juce::Slider::trackColourId), hovered));
        g.fillRoundedRectangle(left, static_cast<float>(top), static_cast<float>(tw), static_cast<float>(upperHeight),
                               1.0f);
    }

    const double lowerHeight = bottom - thumbY - 8.0;
    if (lowerHeight > 0.0)
    {
        g.setColour(hoverColour(findColour(juce::Slider::backgroundColourId), hovered));
        g.fillRoundedRectangle(left, static_cast<float>(thumbY + 8.0), static_cast<float>(tw),
                               static_cast<float>(lowerHeight), 1.0f);
    }

    // The thumb: a ring of mid-diameter 16 and thickness tw, the inner circle cut out.
    juce::Path ring;
    const double outer = 16.0 + tw;
    const double inner = juce::jmax(16.0 - tw, 0.0);
    ring.addEllipse(static_cast<float>(cx - outer / 2.0), static_cast<float>(thumbY - outer / 2.0),
                    static_cast<float>(outer), static_cast<float>(outer));
    ring.addEllipse(static_cast<float>(cx - inner / 2.0), static_cast<float>(thumbY - inner / 2.0),
                    static_cast<float>(inner), static_cast<float>(inner));
    ring.setUsingNonZeroWinding(false);
    g.setColour(hoverColour(findColour(juce::Slider::thumbColourId), hovered));
    g.fillPath(ring);
}
