#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/CustomLookAndFeel.h"

TEST(CustomLookAndFeel, ColourTable)
{
    CustomLookAndFeel lookAndFeel;
    const std::pair<int, juce::uint32> table[] = {
        {juce::Slider::trackColourId, 0x1AFFFFFF},
        {juce::Slider::backgroundColourId, 0x66FFFFFF},
        {juce::Slider::thumbColourId, 0x66FFFFFF},
        {juce::PopupMenu::backgroundColourId, 0xFFF0F0F0},
        {juce::PopupMenu::textColourId, 0xFF282828},
        {juce::PopupMenu::highlightedBackgroundColourId, 0xFFBEBEBE},
        {juce::TextButton::buttonColourId, 0x99010101},
        {juce::TextButton::textColourOffId, 0xFFFCFCFC},
        {juce::TextEditor::outlineColourId, 0x99010101},
        {juce::TextEditor::focusedOutlineColourId, 0x99010101},
        {juce::TextEditor::textColourId, 0xFF282828},
        {juce::TextEditor::backgroundColourId, 0xFFFCFCFC},
        {juce::TableHeaderComponent::backgroundColourId, 0x00000000},
        {juce::TableHeaderComponent::outlineColourId, 0x00000000},
        {juce::ListBox::backgroundColourId, 0x00000000},
        {juce::ScrollBar::thumbColourId, 0x4CFFFFFF},
    };
    for (const auto& [id, argb] : table)
        EXPECT_EQ(lookAndFeel.findColour(id).getARGB(), argb) << std::hex << id;
    // Everything else keeps the framework's dark scheme.
    EXPECT_EQ(lookAndFeel.findColour(juce::Label::textColourId), juce::LookAndFeel_V4().findColour(juce::Label::textColourId));
}

// A font that asks for the default sans-serif face, in this look and feel and anywhere in the
// process (labels, popup menus), gets the embedded Open Sans SemiBold.
TEST(CustomLookAndFeel, DefaultSansSerifFaceIsTheEmbeddedSemiBold)
{
    CustomLookAndFeel lookAndFeel;
    const auto own = lookAndFeel.getTypefaceForFont(juce::Font(20.0f));
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->getName(), "Open Sans");
    EXPECT_EQ(own->getStyle(), "Semibold");  // the font file's own style name
    const auto resolved = juce::Font(20.0f).getTypefacePtr();
    EXPECT_EQ(resolved->getName(), "Open Sans");
    EXPECT_EQ(resolved->getStyle(), "Semibold");  // the font file's own style name
}

TEST(CustomLookAndFeel, ButtonBackgroundHasSmallCornersAndFollowsState)
{
    CustomLookAndFeel lookAndFeel;
    juce::TextButton button;
    button.setLookAndFeel(&lookAndFeel);
    button.setSize(100, 30);
    auto image = button.createComponentSnapshot(button.getLocalBounds());
    EXPECT_EQ(image.getPixelAt(50, 15).getARGB(), 0x99010101u);
    EXPECT_GT(image.getPixelAt(1, 1).getAlpha(), 0x60);  // radius 2, not the framework's 6

    button.setState(juce::Button::buttonDown);  // lighter: contrasting by 0.2 towards white
    EXPECT_GT(button.createComponentSnapshot(button.getLocalBounds()).getPixelAt(50, 15).getRed(), 0x30);

    button.setState(juce::Button::buttonNormal);
    button.setEnabled(false);  // half the alpha
    EXPECT_NEAR(button.createComponentSnapshot(button.getLocalBounds()).getPixelAt(50, 15).getAlpha(), 0x4C, 1);

    juce::Image thin(juce::Image::ARGB, 4, 30, true);
    button.setSize(1, 30);  // width 0 after the half-pixel inset: nothing drawn
    {
        juce::Graphics g(thin);
        lookAndFeel.drawButtonBackground(g, button, juce::Colours::red, false, false);
    }
    for (int y = 0; y < 30; ++y)
        EXPECT_EQ(thin.getPixelAt(0, y).getAlpha(), 0);
    button.setLookAndFeel(nullptr);
}

TEST(CustomLookAndFeel, HeaderColumnTextFromXFiveWithoutHighlight)
{
    CustomLookAndFeel lookAndFeel;
    juce::TableHeaderComponent header;
    const auto draw = [&](const juce::String& name, bool over, bool down) {
        juce::Image image(juce::Image::ARGB, 300, 40, true);
        juce::Graphics g(image);
        lookAndFeel.drawTableHeaderColumn(g, header, name, 1, 200, 40, over, down, 0);
        return image;
    };
    const auto inkRange = [](const juce::Image& image) {
        int first = image.getWidth(), last = -1, alpha = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                if (const int a = image.getPixelAt(x, y).getAlpha(); a > 0)
                    first = std::min(first, x), last = std::max(last, x), alpha = std::max(alpha, a);
        return std::tuple(first, last, alpha);
    };
    const auto plain = draw("Gain", false, false);
    const auto [first, last, alpha] = inkRange(plain);
    EXPECT_GE(first, 5);
    EXPECT_LE(first, 8);
    EXPECT_GT(last, 40);  // an Open Sans text of height 26
    EXPECT_NEAR(alpha, 0xCC, 1);
    EXPECT_EQ(plain.getPixelAt(last, 20).getRed(), plain.getPixelAt(last, 20).getBlue());  // white

    const auto highlighted = draw("Gain", true, true);
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 300; ++x)
            ASSERT_EQ(highlighted.getPixelAt(x, y), plain.getPixelAt(x, y));

    // A long name ends in an ellipsis inside the area x 5 to 205.
    EXPECT_LE(std::get<1>(inkRange(draw(juce::String::repeatedString("Snapshot ", 10), false, false))), 205);
}
