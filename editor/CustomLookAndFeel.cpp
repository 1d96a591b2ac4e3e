#include "editor/CustomLookAndFeel.h"

#include "editor/Colours.h"
#include "editor/EmbeddedFonts.h"

CustomLookAndFeel::CustomLookAndFeel()
{
    setColour(juce::Slider::trackColourId, juce::Colour(0x1AFFFFFF));
    setColour(juce::Slider::backgroundColourId, juce::Colour(0x66FFFFFF));
    setColour(juce::Slider::thumbColourId, juce::Colour(0x66FFFFFF));

    // The framework resolves the default sans-serif face through the process's default look and
    // feel, not through the one a component draws with. The face is given to both, so that every
    // text that asks for the default face (labels, popup menu items) finds an embedded font:
    // there may be no system fonts at all.
    const auto semiBold = embeddedTypeface(EmbeddedFace::OpenSansSemiBold);
    setDefaultSansSerifTypeface(semiBold);
    auto& processDefault = juce::LookAndFeel::getDefaultLookAndFeel();
    if (&processDefault != this)
        processDefault.setDefaultSansSerifTypeface(semiBold);

    setColour(juce::PopupMenu::backgroundColourId, ColourMenuBackground);
    setColour(juce::PopupMenu::textColourId, ColourMenuText);
    setColour(juce::PopupMenu::highlightedBackgroundColourId, ColourMenuHighlight);
    setColour(juce::TextButton::buttonColourId, ColourPrimary);
    setColour(juce::TextButton::textColourOffId, ColourAlmostWhite);
    setColour(juce::TextEditor::outlineColourId, ColourPrimary);
    setColour(juce::TextEditor::focusedOutlineColourId, ColourPrimary);
    setColour(juce::TextEditor::textColourId, ColourMenuText);
    setColour(juce::TextEditor::backgroundColourId, ColourAlmostWhite);
    setColour(juce::TableHeaderComponent::backgroundColourId, juce::Colour(0x00000000));
    setColour(juce::TableHeaderComponent::outlineColourId, juce::Colour(0x00000000));
    setColour(juce::ListBox::backgroundColourId, juce::Colour(0x00000000));
    setColour(juce::ScrollBar::thumbColourId, juce::Colour(0x4CFFFFFF));
}

CustomLookAndFeel::~CustomLookAndFeel() = default;

void CustomLookAndFeel::drawButtonBackground(juce::Graphics& g, juce::Button& button,
                                             const juce::Colour& backgroundColour,
                                             bool shouldDrawButtonAsHighlighted, bool shouldDrawButtonAsDown)
{
    auto colour = backgroundColour.withMultipliedSaturation(button.hasKeyboardFocus(true) ? 1.3f : 0.9f)
                      .withMultipliedAlpha(button.isEnabled() ? 1.0f : 0.5f);

    if (shouldDrawButtonAsDown || shouldDrawButtonAsHighlighted)
        colour = colour.contrasting(shouldDrawButtonAsDown ? 0.2f : 0.05f);

    g.setColour(colour);
    g.fillRoundedRectangle(0.5f, 0.5f, static_cast<float>(juce::jmax(button.getWidth() - 1, 0)),
                           static_cast<float>(juce::jmax(button.getHeight() - 1, 0)), 2.0f);
}

void CustomLookAndFeel::drawTableHeaderColumn(juce::Graphics& g, juce::TableHeaderComponent&,
                                              const juce::String& columnName, int, int width, int height, bool,
                                              bool, int)
{
    g.setFont(embeddedFont(EmbeddedFace::OpenSansRegular, 26.0f));
    g.setColour(juce::Colour(0xCCFFFFFF));
    g.drawText(columnName,
               juce::Rectangle<float>(5.0f, 0.0f, static_cast<float>(width), static_cast<float>(height)),
               juce::Justification::centredLeft, true);
}
