#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/ColourIndicator.h"
#include "editor/CustomLookAndFeel.h"
#include "editor/FlatButton.h"
#include "editor/LabelButton.h"
#include "editor/ModalOverlay.h"
#include "editor/RectangleComponent.h"
#include "editor/SliderGn.h"

namespace
{
// The component as the screen would show it; also written as a PNG when FERROWICK_SNAPSHOT_DIR is set.
juce::Image snapshot(juce::Component& component, const char* name)
{
    auto image = component.createComponentSnapshot(component.getLocalBounds(), true, 1.0f);
    if (const char* dir = std::getenv("FERROWICK_SNAPSHOT_DIR"))
    {
        juce::FileOutputStream out(juce::File(dir).getChildFile(juce::String(name) + ".png"));
        out.setPosition(0);
        out.truncate();
        juce::PNGImageFormat().writeImageToStream(image, out);
    }
    return image;
}

// Columns inside the 2-pixel border that hold a pixel differing from `ground` by more than 40 in a channel.
juce::Range<int> inkColumns(const juce::Image& image, juce::Colour ground)
{
    int first = image.getWidth(), last = -1;
    for (int y = 2; y < image.getHeight() - 2; ++y)
        for (int x = 2; x < image.getWidth() - 2; ++x)
        {
            const auto c = image.getPixelAt(x, y);
            if (std::abs(c.getRed() - ground.getRed()) > 40 || std::abs(c.getGreen() - ground.getGreen()) > 40
                || std::abs(c.getBlue() - ground.getBlue()) > 40)
                first = std::min(first, x), last = std::max(last, x);
        }
    return {first, last + 1};
}

bool anyPixel(const juce::Image& image, const std::function<bool(juce::Colour)>& predicate)
{
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (predicate(image.getPixelAt(x, y)))
                return true;
    return false;
}

juce::MouseEvent clickOn(juce::Component& component)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), {5.0f, 5.0f}, {}, 0.0f, 0.0f, 0.0f, 0.0f,
                            0.0f, &component, &component, now, {5.0f, 5.0f}, now, 1, false);
}
} // namespace

// Fader 24 x 210: top 11, bottom 199; the thumb centre moves from 199 (minimum) to 11 (maximum).
TEST(SliderGn, TracksAndRingAtMinimumDefaultAndMaximumAndWhileHovered)
{
    CustomLookAndFeel lookAndFeel;
    SliderGn slider;
    slider.setLookAndFeel(&lookAndFeel);
    slider.setSize(24, 210);

    slider.setValue(0.0);  // ring around y 199, upper track 11..191
    auto image = snapshot(slider, "slider-min");
    EXPECT_EQ(image.getPixelAt(12, 100).getARGB(), 0x1AFFFFFFu);
    EXPECT_EQ(image.getPixelAt(20, 199).getARGB(), 0x66FFFFFFu);  // on the ring, 8 px right of its centre
    EXPECT_EQ(image.getPixelAt(12, 199).getAlpha(), 0);           // the hole of the ring

    slider.setValue(0.666667);  // thumb centre at 11 + 188/3 = 73.67
    image = snapshot(slider, "slider-default");
    EXPECT_EQ(image.getPixelAt(12, 40).getARGB(), 0x1AFFFFFFu);
    EXPECT_EQ(image.getPixelAt(12, 150).getARGB(), 0x66FFFFFFu);
    EXPECT_EQ(image.getPixelAt(19, 73).getARGB(), 0x66FFFFFFu);
    EXPECT_EQ(image.getPixelAt(12, 73).getAlpha(), 0);

    slider.hovered = true;  // alpha x1.3, half to even, at most 255
    slider.setColour(juce::Slider::thumbColourId, juce::Colours::white);
    image = snapshot(slider, "slider-default-hovered");
    EXPECT_EQ(image.getPixelAt(12, 40).getAlpha(), 34);
    EXPECT_EQ(image.getPixelAt(12, 150).getAlpha(), 133);
    EXPECT_EQ(image.getPixelAt(19, 73).getAlpha(), 255);

    slider.hovered = false;
    slider.setValue(1.0);  // ring around y 11, lower track 19..199
    image = snapshot(slider, "slider-max");
    EXPECT_EQ(image.getPixelAt(12, 100).getARGB(), 0x66FFFFFFu);
    EXPECT_EQ(image.getPixelAt(20, 11).getARGB(), 0xFFFFFFFFu);
    slider.setLookAndFeel(nullptr);
}

TEST(ColourIndicator, DarkGroundUnderARoundedPill)
{
    ColourIndicator meter;
    meter.setSize(24, 10);
    EXPECT_TRUE(meter.isOpaque());
    EXPECT_EQ(snapshot(meter, "meter-empty").getPixelAt(0, 0).getARGB(), 0xFF232323u);

    meter.colour = juce::Colour(0xF090FF90);
    const auto image = snapshot(meter, "meter-green");
    const auto pill = juce::Colour(0xFF232323).overlaidWith(meter.colour);
    const auto centre = image.getPixelAt(12, 5);
    EXPECT_NEAR(centre.getRed(), pill.getRed(), 2);
    EXPECT_NEAR(centre.getGreen(), pill.getGreen(), 2);
    EXPECT_LT(image.getPixelAt(0, 0).getGreen(), centre.getGreen() - 40);  // the corner is rounded off
}

TEST(RectangleComponent, RoundedCorners)
{
    RectangleComponent rectangle;
    rectangle.colour = juce::Colour(0xCC000000);
    rectangle.setSize(100, 40);
    const auto image = snapshot(rectangle, "rectangle");
    EXPECT_EQ(image.getPixelAt(50, 20).getARGB(), 0xCC000000u);
    EXPECT_EQ(image.getPixelAt(0, 0).getAlpha(), 0);
    EXPECT_EQ(image.getPixelAt(1, 1).getAlpha(), 0);  // radius 8 cuts more than a small corner would
}

class FlatButtonPaint : public ::testing::Test
{
protected:
    void SetUp() override
    {
        button.setColour(FlatButton::backgroundColourId, juce::Colour(0xFF3060A0));
        button.setColour(FlatButton::backgroundHoverColourId, juce::Colour(0xFF208020));
        button.setColour(FlatButton::textColourId, juce::Colour(0xFFFFFF00));
        button.setColour(FlatButton::textHoverColourId, juce::Colour(0xFF00FFFF));
        button.setSize(300, 48);  // font height 40
    }
    FlatButton button;
};

TEST_F(FlatButtonPaint, BackgroundNormalHoveredAndPressedTextInItsColour)
{
    button.setButtonText("Hello");
    auto image = snapshot(button, "flat-normal");
    EXPECT_EQ(image.getPixelAt(5, 24).getARGB(), 0xFF3060A0u);
    // The embedded thin face renders: some pixels reach the full text colour.
    EXPECT_TRUE(anyPixel(image, [](juce::Colour c) { return c.getRed() > 0xE0 && c.getBlue() < 0x40; }));

    button.hovered = true;
    image = snapshot(button, "flat-hovered");
    EXPECT_EQ(image.getPixelAt(5, 24).getARGB(), 0xFF208020u);
    EXPECT_TRUE(anyPixel(image, [](juce::Colour c) { return c.getBlue() > 0xE0 && c.getRed() < 0x40; }));

    button.setState(juce::Button::buttonDown);  // pressed while hovered: darkened normal background
    image = snapshot(button, "flat-pressed");
    EXPECT_EQ(image.getPixelAt(5, 24).getARGB(), 0xFF2D5B98u);  // 48, 96, 160 times 1/1.05, truncated
    EXPECT_TRUE(anyPixel(image, [](juce::Colour c) { return c.getBlue() > 0xE0 && c.getRed() < 0x40; }));

    button.setButtonText({});
    EXPECT_TRUE(inkColumns(snapshot(button, "flat-empty"), juce::Colour(0xFF2D5B98)).isEmpty());
}

TEST_F(FlatButtonPaint, AlignmentsAndTracking)
{
    button.setButtonText("ABCDE");
    const juce::Colour ground(0xFF3060A0);
    const auto right = inkColumns(snapshot(button, "flat-right"), ground);
    EXPECT_NEAR(right.getEnd(), 300 - 20, 4);  // right margin 20

    button.leftAligned = true;
    EXPECT_NEAR(inkColumns(snapshot(button, "flat-left"), ground).getStart(), 0, 4);

    button.leftAligned = false;
    button.centred = true;
    const auto centred = inkColumns(snapshot(button, "flat-centred"), ground);
    EXPECT_NEAR(centred.getStart() + centred.getEnd(), 300, 6);

    button.centred = false;
    button.tracking = 20.0f;  // four gaps of 20: the text grows leftwards by 80
    const auto tracked = inkColumns(snapshot(button, "flat-right-tracked"), ground);
    EXPECT_NEAR(tracked.getEnd(), right.getEnd(), 2);
    EXPECT_NEAR(tracked.getLength() - right.getLength(), 80, 3);
}

TEST(LabelButton, TextAlphaFollowsHover)
{
    LabelButton button;
    button.setColour(juce::Label::textColourId, juce::Colours::white);
    button.setButtonText("www");
    button.setSize(215, 24);
    const auto maxAlpha = [&](const char* name) {
        const auto image = snapshot(button, name);
        int alpha = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                alpha = std::max(alpha, static_cast<int>(image.getPixelAt(x, y).getAlpha()));
        return alpha;
    };
    EXPECT_NEAR(maxAlpha("label-button"), 0xB2, 1);
    button.mouseEnter(clickOn(button));
    EXPECT_TRUE(button.hovered);
    EXPECT_NEAR(maxAlpha("label-button-hovered"), 0xE6, 1);
    button.mouseExit(clickOn(button));
    EXPECT_FALSE(button.hovered);
}

TEST(ModalOverlay, PaintsDarkComesToFrontCentresContentAndHidesOnClick)
{
    juce::Component window, later, first, second;
    ModalOverlay overlay;
    window.setSize(800, 600);
    window.addAndMakeVisible(overlay);
    window.addAndMakeVisible(later);
    overlay.setBounds(window.getLocalBounds());
    later.setBounds(0, 0, 10, 10);

    snapshot(window, "overlay-first");  // painting brings the overlay above the later sibling
    EXPECT_EQ(window.getIndexOfChildComponent(&overlay), 1);
    EXPECT_EQ(snapshot(window, "overlay-empty").getPixelAt(400, 300).getARGB(), 0xB2000000u);  // no content: still paints
    EXPECT_TRUE(overlay.isPaintingUnclipped());

    first.setSize(100, 50);
    second.setSize(550, 180);
    overlay.setContent(first);
    overlay.setContent(second);
    EXPECT_EQ(overlay.content, &second);
    ASSERT_EQ(overlay.getNumChildComponents(), 1);
    EXPECT_EQ(overlay.getChildComponent(0), &second);
    EXPECT_EQ(first.getParentComponent(), nullptr);
    EXPECT_TRUE(second.isVisible());
    EXPECT_EQ(second.getBounds(), juce::Rectangle<int>(125, 210, 550, 180));

    overlay.setBounds(0, 0, 1000, 400);
    EXPECT_EQ(second.getBounds(), juce::Rectangle<int>(225, 110, 550, 180));

    overlay.mouseDown(clickOn(overlay));
    EXPECT_FALSE(overlay.isVisible());
}
