#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/ColourIndicator.h"
#include "editor/CustomLookAndFeel.h"
#include "editor/FlatButton.h"
#include "editor/ModalOverlay.h"
#include "editor/SliderGn.h"

namespace
{
juce::Image snapshot(juce::Component& c) { return c.createComponentSnapshot(c.getLocalBounds()); }

// First and one-past-last column, inside a 2-pixel border, of the pixels for which `ink` holds.
juce::Range<int> inkColumns(const juce::Image& image, const std::function<bool(juce::Colour)>& ink)
{
    int first = image.getWidth(), last = -1;
    for (int y = 2; y < image.getHeight() - 2; ++y)
        for (int x = 2; x < image.getWidth() - 2; ++x)
            if (ink(image.getPixelAt(x, y)))
                first = std::min(first, x), last = std::max(last, x);
    return {first, last + 1};
}
} // namespace

// Fader 24 x 210: the track runs from y 11 to 199, the thumb centre from 199 (minimum) to 11 (maximum).
TEST(SliderGn, TracksRingAndHoverAlphaAtMinimumDefaultAndMaximum)
{
    CustomLookAndFeel lookAndFeel;
    SliderGn slider;
    slider.setLookAndFeel(&lookAndFeel);
    slider.setSize(24, 210);
    const auto pixel = [&](int x, int y) { return snapshot(slider).getPixelAt(x, y).getARGB(); };

    slider.setValue(0.0);
    EXPECT_EQ(pixel(12, 100), 0x1AFFFFFFu);  // upper track
    EXPECT_EQ(pixel(20, 199), 0x66FFFFFFu);  // ring, 8 px right of the thumb centre
    EXPECT_EQ(pixel(12, 199), 0u);           // its hole
    slider.setValue(0.666667);               // thumb centre at 73.67
    EXPECT_EQ(pixel(12, 40), 0x1AFFFFFFu);
    EXPECT_EQ(pixel(12, 150), 0x66FFFFFFu);  // lower track
    EXPECT_EQ(pixel(19, 73), 0x66FFFFFFu);
    EXPECT_EQ(pixel(12, 73), 0u);
    slider.hovered = true;  // alpha x1.3 rounded, at most 255
    slider.setColour(juce::Slider::thumbColourId, juce::Colours::white);
    EXPECT_EQ(pixel(12, 40) >> 24, 34u);    // 0x1A -> 34
    EXPECT_EQ(pixel(12, 150) >> 24, 133u);  // 0x66 -> 133
    EXPECT_EQ(pixel(19, 73), 0xFFFFFFFFu);  // 255 stays
    slider.hovered = false;
    slider.setValue(1.0);
    EXPECT_EQ(pixel(12, 100), 0x66FFFFFFu);
    EXPECT_EQ(pixel(20, 11), 0xFFFFFFFFu);
    slider.setLookAndFeel(nullptr);
}

TEST(ColourIndicator, RoundedPillOnOpaqueDarkGround)
{
    ColourIndicator meter;
    meter.setSize(24, 10);
    meter.colour = juce::Colour(0xF090FF90);
    const auto image = snapshot(meter);
    const auto pill = juce::Colour(0xFF232323).overlaidWith(meter.colour);
    EXPECT_NEAR(image.getPixelAt(12, 5).getGreen(), pill.getGreen(), 2);
    EXPECT_NEAR(image.getPixelAt(12, 5).getRed(), pill.getRed(), 2);
    EXPECT_LT(image.getPixelAt(0, 0).getGreen(), pill.getGreen() - 40);  // rounded corner shows the ground
}

TEST(FlatButton, BackgroundsTextColoursAndAlignments)
{
    FlatButton button;
    button.setColour(FlatButton::backgroundColourId, juce::Colour(0xFF3060A0));
    button.setColour(FlatButton::backgroundHoverColourId, juce::Colour(0xFF208020));
    button.setColour(FlatButton::textColourId, juce::Colour(0xFFFFFF00));
    button.setColour(FlatButton::textHoverColourId, juce::Colour(0xFF00FFFF));
    button.setSize(300, 48);  // font height 40
    button.setButtonText("ABCDE");
    const auto yellow = [](juce::Colour c) { return c.getRed() > 0xE0 && c.getBlue() < 0x40; };
    const auto cyan = [](juce::Colour c) { return c.getBlue() > 0xE0 && c.getRed() < 0x40; };
    const auto ink = [](juce::Colour c) { return c.getRed() > 0x80; };  // text over the blue background

    auto image = snapshot(button);
    EXPECT_EQ(image.getPixelAt(5, 24).getARGB(), 0xFF3060A0u);
    EXPECT_FALSE(inkColumns(image, yellow).isEmpty());  // the embedded face renders in the text colour
    const auto right = inkColumns(image, ink);
    EXPECT_NEAR(right.getEnd(), 280, 4);  // right margin 20
    button.centred = true;
    const auto centred = inkColumns(snapshot(button), ink);
    EXPECT_NEAR(centred.getStart() + centred.getEnd(), 300, 6);
    button.leftAligned = true;  // tested before centred
    EXPECT_NEAR(inkColumns(snapshot(button), ink).getStart(), 0, 4);
    button.leftAligned = button.centred = false;
    button.tracking = 20.0f;  // four gaps: the right-aligned text grows leftwards by 80
    const auto tracked = inkColumns(snapshot(button), ink);
    EXPECT_NEAR(tracked.getEnd(), right.getEnd(), 2);
    EXPECT_NEAR(tracked.getLength() - right.getLength(), 80, 3);

    button.hovered = true;
    image = snapshot(button);
    EXPECT_EQ(image.getPixelAt(5, 24).getARGB(), 0xFF208020u);
    EXPECT_FALSE(inkColumns(image, cyan).isEmpty());
    button.setState(juce::Button::buttonDown);  // pressed while hovered: the normal background, darker
    image = snapshot(button);
    EXPECT_EQ(image.getPixelAt(5, 24).getARGB(), 0xFF2D5B98u);  // 48, 96, 160 times 1/1.05, truncated
    EXPECT_FALSE(inkColumns(image, cyan).isEmpty());
}

TEST(ModalOverlay, ComesToFrontCentresContentReplacesItAndHidesOnClick)
{
    juce::Component window, later, first, second;
    ModalOverlay overlay;
    window.setSize(800, 600);
    window.addAndMakeVisible(overlay);
    window.addAndMakeVisible(later);
    overlay.setBounds(window.getLocalBounds());
    snapshot(window);  // painting brings the overlay above the sibling added after it
    EXPECT_EQ(window.getIndexOfChildComponent(&overlay), 1);
    EXPECT_EQ(snapshot(window).getPixelAt(400, 300).getARGB(), 0xB2000000u);  // no content: still paints

    first.setSize(100, 50);
    second.setSize(550, 180);
    overlay.setContent(first);
    overlay.setContent(second);
    EXPECT_EQ(overlay.content, &second);
    EXPECT_EQ(overlay.getNumChildComponents(), 1);
    EXPECT_EQ(first.getParentComponent(), nullptr);
    EXPECT_TRUE(second.isVisible());
    EXPECT_EQ(second.getBounds(), juce::Rectangle<int>(125, 210, 550, 180));
    overlay.setBounds(0, 0, 1000, 400);
    EXPECT_EQ(second.getBounds(), juce::Rectangle<int>(225, 110, 550, 180));

    const auto now = juce::Time::getCurrentTime();
    overlay.mouseDown(juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), {5.0f, 5.0f}, {}, 0.0f, 0.0f,
                                       0.0f, 0.0f, 0.0f, &overlay, &overlay, now, {5.0f, 5.0f}, now, 1, false));
    EXPECT_FALSE(overlay.isVisible());
}
