#include <cmath>
#include <thread>

#include "editor_test_util.h"

namespace
{
using EditorWindow = plugin_testing::FreshHome;
using editor_testing::openEditor;
using editor_testing::pumpMessages;

const juce::Colour pictureColour { 0xFFFF00FF };

void writeSolidPicture(const juce::File& file, int width, int height)
{
    juce::Image image(juce::Image::RGB, width, height, false);
    image.clear(image.getBounds(), pictureColour);
    file.getParentDirectory().createDirectory();
    file.deleteFile();
    juce::FileOutputStream out(file);
    ASSERT_TRUE(juce::PNGImageFormat().writeImageToStream(image, out));
}

bool near(juce::Colour a, juce::Colour b, int tolerance = 2)
{
    return std::abs(a.getRed() - b.getRed()) <= tolerance && std::abs(a.getGreen() - b.getGreen()) <= tolerance
           && std::abs(a.getBlue() - b.getBlue()) <= tolerance;
}

// The picture fills (x, 122, w, 650) and nothing of it lies outside; probed away from the children
// drawn over it.
void expectPictureRectangle(CorvaneAudioProcessorEditor& editor, int x, int w)
{
    const auto shot = editor.createComponentSnapshot(editor.getLocalBounds());
    const int midY = 400, midX = x + w / 2;
    EXPECT_TRUE(near(shot.getPixelAt(x, midY), pictureColour));
    EXPECT_TRUE(near(shot.getPixelAt(x + w - 1, midY), pictureColour));
    EXPECT_TRUE(near(shot.getPixelAt(midX, 122), pictureColour));
    EXPECT_TRUE(near(shot.getPixelAt(midX, 771), pictureColour));
    EXPECT_FALSE(near(shot.getPixelAt(x - 1, midY), pictureColour, 40));
    EXPECT_FALSE(near(shot.getPixelAt(x + w, midY), pictureColour, 40));
    EXPECT_FALSE(near(shot.getPixelAt(midX, 121), pictureColour, 40));
    EXPECT_FALSE(near(shot.getPixelAt(midX, 772), pictureColour, 40));
}

TEST_F(EditorWindow, ModelPictureIs650HighAtY122AndCentred)
{
    makeCatalogue("--only LinearClean");
    writeSolidPicture(modelsDir().getChildFile("LinearClean/images/000.jpg"), 1000, 500);
    writeSolidPicture(modelsDir().getChildFile("LinearClean/images/001.jpg"), 200, 400);
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);

    expectPictureRectangle(*editor, 122, 1300); // wider than the window's share: 1000 x 500 at 1.3
    editor->rowChosen(1);
    expectPictureRectangle(*editor, 610, 325); // narrower: 200 x 400 at 1.625, centred
}

// The meter's pill, over its dark ground, after ticks at a given input level.
TEST_F(EditorWindow, MeterPillShowsTheMeterColour)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto pillCentre = [&] {
        return editor->createComponentSnapshot(editor->getLocalBounds()).getPixelAt(70, 1085);
    };
    const juce::Colour ground { 0xFF232323 };

    processor.inputLevel = 1.0f;
    editor->timerCallback();
    EXPECT_TRUE(near(pillCentre(), ground.overlaidWith(juce::Colour(0xCCFF0000))));
    processor.inputLevel = 0.1f; // -20 dB
    editor->inputMeter.level = -20.0f;
    editor->timerCallback();
    EXPECT_TRUE(near(pillCentre(), ground.overlaidWith(juce::Colour(0xF090FF90))));
    processor.inputLevel = 0.0f;
    editor->inputMeter.level = -50.0f;
    editor->timerCallback();
    EXPECT_TRUE(near(pillCentre(), ground.overlaidWith(juce::Colour(0x0DFFFFFF))));
}

TEST_F(EditorWindow, MeterRisesAtOnceAndFallsTwoDecibelsPerTick)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto& meter = editor->inputMeter;
    auto tick = [&](float inputLevel) {
        processor.inputLevel = inputLevel;
        editor->timerCallback();
        return meter.level;
    };
    const juce::Colour red { 0xCCFF0000 }, green { 0xF090FF90 };

    EXPECT_EQ(tick(1.0f), 30.0f); // full scale and above: 30
    EXPECT_EQ(meter.colour, red);
    EXPECT_EQ(tick(4.0f), 30.0f);
    for (int i = 1; i <= 18; ++i) // -20 dB input: down 2 dB a tick, red down to -6
    {
        EXPECT_FLOAT_EQ(tick(0.1f), 30.0f - 2.0f * static_cast<float>(i));
        EXPECT_EQ(meter.colour, red) << i;
    }
    EXPECT_FLOAT_EQ(tick(0.1f), -8.0f);
    EXPECT_EQ(meter.colour, green);
    for (int i = 0; i < 10; ++i)
        tick(0.1f);
    EXPECT_NEAR(meter.level, -20.0f, 1e-4f); // settles on the input level

    EXPECT_NEAR(tick(0.0f), -22.0f, 1e-4f); // silence: keeps falling, -22 is still green
    EXPECT_EQ(meter.colour, green);
    tick(0.0f); // -24: white, alpha from 0.05 + 0.9 * 16 / 40
    EXPECT_EQ(meter.colour.getARGB(), 0x69FFFFFFu);
    for (int i = 0; i < 8; ++i)
        tick(0.0f);
    EXPECT_NEAR(meter.level, -40.0f, 1e-4f);
    EXPECT_EQ(meter.colour.getARGB(), 0x0DFFFFFFu);
    for (int i = 0; i < 30; ++i)
        tick(0.0f); // no lower bound
    EXPECT_NEAR(meter.level, -100.0f, 1e-3f);
    EXPECT_EQ(meter.colour.getARGB(), 0x0DFFFFFFu);

    EXPECT_NEAR(tick(0.1f), -20.0f, 1e-4f); // rises at once
    meter.level = -6.5f;
    tick(0.0f);
    EXPECT_EQ(meter.colour.getARGB(), 0xF090FF90u); // -8.5
    meter.level = -4.0f;
    tick(0.0f);
    EXPECT_EQ(meter.colour, red); // exactly -6
}

TEST_F(EditorWindow, KnobLabelsFollowTheParameters)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    EXPECT_EQ(editor->knobLabels[0].getText(), "0.0 dB");
    EXPECT_EQ(editor->knobLabels[1].getText(), "0.0 dB");
    EXPECT_EQ(editor->knobLabels[0].getBounds(), juce::Rectangle<int>(25, 1050, 90, 30));
    EXPECT_EQ(editor->knobLabels[1].getBounds(), juce::Rectangle<int>(131, 1050, 90, 30));

    processor.getParameters()[0]->setValueNotifyingHost(0.5f);
    pumpMessages(50);
    EXPECT_EQ(editor->knobLabels[0].getText(), "-10.0 dB");

    // A host thread sets the output gain; the label follows once the message loop has run.
    std::thread host([&] { processor.getParameters()[1]->setValueNotifyingHost(1.0f); });
    host.join();
    pumpMessages(100);
    EXPECT_EQ(editor->knobLabels[1].getText(), "20.0 dB");
    EXPECT_EQ(editor->knobLabels[0].getText(), "-10.0 dB");
}

TEST_F(EditorWindow, SampleRateMessageFollowsPrepareToPlay)
{
    CorvaneAudioProcessor processor;
    processor.prepareToPlay(44100.0, 256);
    auto editor = openEditor(processor);
    EXPECT_TRUE(editor->sampleRateLabel.isVisible());
    EXPECT_EQ(editor->sampleRateLabel.getText(), "This plugin only supports sample rates of 48Khz or 96Khz!");

    processor.prepareToPlay(48000.0, 256);
    EXPECT_FALSE(editor->sampleRateLabel.isVisible());
    processor.prepareToPlay(44100.0, 256);
    EXPECT_TRUE(editor->sampleRateLabel.isVisible());
    processor.prepareToPlay(96000.0, 256);
    EXPECT_FALSE(editor->sampleRateLabel.isVisible());

    // From a host thread the change waits for the message thread.
    std::thread host([&] { processor.prepareToPlay(44100.0, 256); });
    host.join();
    EXPECT_FALSE(editor->sampleRateLabel.isVisible());
    pumpMessages(100);
    EXPECT_TRUE(editor->sampleRateLabel.isVisible());
    std::thread again([&] { processor.prepareToPlay(48000.0, 256); });
    again.join();
    pumpMessages(100);
    EXPECT_FALSE(editor->sampleRateLabel.isVisible());
}

TEST_F(EditorWindow, ForcedWidthReturnsTo1545)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    editor->setSize(1000, 700);
    EXPECT_EQ(editor->getBounds(), juce::Rectangle<int>(0, 0, 1545, 1118));
    EXPECT_EQ(editor->modalOverlay.getBounds(), editor->getLocalBounds());

    editor->setSize(1545, 900); // only the width is held
    EXPECT_EQ(editor->getHeight(), 900);
    EXPECT_EQ(editor->modalOverlay.getBounds(), juce::Rectangle<int>(0, 0, 1545, 900));
}
} // namespace
