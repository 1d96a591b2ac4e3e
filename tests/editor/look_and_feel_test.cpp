#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/CustomLookAndFeel.h"

TEST(CustomLookAndFeel, ColourTableAndDefaultFace)
{
    CustomLookAndFeel lookAndFeel;
    using S = juce::Slider;
    using M = juce::PopupMenu;
    using E = juce::TextEditor;
    const std::pair<int, juce::uint32> table[] = {
        {S::trackColourId, 0x1AFFFFFF}, {S::backgroundColourId, 0x66FFFFFF}, {S::thumbColourId, 0x66FFFFFF},
        {M::backgroundColourId, 0xFFF0F0F0}, {M::textColourId, 0xFF282828},
        {M::highlightedBackgroundColourId, 0xFFBEBEBE}, {juce::TextButton::buttonColourId, 0x99010101},
        {juce::TextButton::textColourOffId, 0xFFFCFCFC}, {E::outlineColourId, 0x99010101},
        {E::focusedOutlineColourId, 0x99010101}, {E::textColourId, 0xFF282828}, {E::backgroundColourId, 0xFFFCFCFC},
        {juce::TableHeaderComponent::backgroundColourId, 0}, {juce::TableHeaderComponent::outlineColourId, 0},
        {juce::ListBox::backgroundColourId, 0}, {juce::ScrollBar::thumbColourId, 0x4CFFFFFF}};
    for (const auto& [id, argb] : table)
        EXPECT_EQ(lookAndFeel.findColour(id).getARGB(), argb) << std::hex << id;

    // The default sans-serif face, here and for any font of the process that asks for it.
    for (const auto& face : {lookAndFeel.getTypefaceForFont(juce::Font(20.0f)), juce::Font(20.0f).getTypefacePtr()})
        EXPECT_EQ(face->getName() + " " + face->getStyle(), "Open Sans Semibold");  // the font file's own names
}

TEST(CustomLookAndFeel, HeaderColumnTextFromXFiveInWhiteAtAlphaCC)
{
    CustomLookAndFeel lookAndFeel;
    juce::TableHeaderComponent header;
    juce::Image image(juce::Image::ARGB, 300, 40, true);
    {
        juce::Graphics g(image);
        lookAndFeel.drawTableHeaderColumn(g, header, "Gain", 1, 200, 40, true, true, 0);  // no highlight drawn
    }
    int first = 300, alpha = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 300; ++x)
            if (const auto c = image.getPixelAt(x, y); c.getAlpha() > 0)
                first = std::min(first, x), alpha = std::max(alpha, static_cast<int>(c.getAlpha()));
    EXPECT_TRUE(first >= 5 && first <= 8) << first;
    EXPECT_NEAR(alpha, 0xCC, 1);  // the embedded face renders, white at 0xCC
}
