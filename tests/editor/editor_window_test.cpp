#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>

#include "editor_test_util.h"

namespace
{
using EditorWindow = plugin_testing::FreshHome;
using namespace editor_testing;

const juce::Colour magenta { 0xFFFF00FF };

void writePicture(const juce::File& file, int width, int height)
{
    juce::Image image(juce::Image::RGB, width, height, false);
    image.clear(image.getBounds(), magenta);
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat().writeImageToStream(image, out);
}

bool near(juce::Colour a, juce::Colour b, int tolerance = 2)
{
    return std::abs(a.getRed() - b.getRed()) <= tolerance && std::abs(a.getGreen() - b.getGreen()) <= tolerance
           && std::abs(a.getBlue() - b.getBlue()) <= tolerance;
}

// The picture covers (x, 122, w, 650) exactly; probed at its edges, away from the children over it.
void expectPictureAt(CorvaneAudioProcessorEditor& editor, int x, int w)
{
    const auto shot = editor.createComponentSnapshot(editor.getLocalBounds());
    const int cx = x + w / 2;
    for (auto [px, py] : { std::pair { x, 400 }, { x + w - 1, 400 }, { cx, 122 }, { cx, 771 } })
        EXPECT_TRUE(near(shot.getPixelAt(px, py), magenta)) << px << "," << py;
    for (auto [px, py] : { std::pair { x - 1, 400 }, { x + w, 400 }, { cx, 121 }, { cx, 772 } })
        EXPECT_FALSE(near(shot.getPixelAt(px, py), magenta, 40)) << px << "," << py;
}

TEST_F(EditorWindow, ModelPictureIs650HighAtY122AndCentred)
{
    makeCatalogue("--only LinearClean");
    writePicture(modelsDir().getChildFile("LinearClean/images/000.jpg"), 1000, 500);
    writePicture(modelsDir().getChildFile("LinearClean/images/001.jpg"), 200, 400);
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    expectPictureAt(*editor, 122, 1300);
    editor->rowChosen(1);
    expectPictureAt(*editor, 610, 325);
}

TEST_F(EditorWindow, MeterRuleTickByTickAndItsPill)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto& meter = editor->inputMeter;
    auto tick = [&](float inputLevel) {
        processor.inputLevel = inputLevel;
        editor->timerCallback();
        return meter.level;
    };
    auto pill = [&] { return editor->createComponentSnapshot(editor->getLocalBounds()).getPixelAt(70, 1085); };
    const juce::Colour red { 0xCCFF0000 }, green { 0xF090FF90 }, ground { 0xFF232323 };

    EXPECT_EQ(tick(4.0f), 30.0f); // full scale and above
    EXPECT_TRUE(near(pill(), ground.overlaidWith(red)));
    for (int i = 1; i <= 18; ++i) // -20 dB input: falls 2 dB a tick, red down to -6
    {
        EXPECT_FLOAT_EQ(tick(0.1f), 30.0f - 2.0f * static_cast<float>(i));
        EXPECT_EQ(meter.colour, red);
    }
    EXPECT_FLOAT_EQ(tick(0.1f), -8.0f);
    EXPECT_EQ(meter.colour, green);
    EXPECT_TRUE(near(pill(), ground.overlaidWith(green)));
    meter.level = -20.0f;
    EXPECT_FLOAT_EQ(tick(0.0f), -22.0f); // silence keeps falling; -22 is still green
    EXPECT_EQ(meter.colour, green);
    tick(0.0f);
    EXPECT_EQ(meter.colour.getARGB(), 0x69FFFFFFu); // -24: alpha round(255 * (0.05 + 0.9 * 16 / 40))
    for (int i = 0; i < 38; ++i)
        tick(0.0f);
    EXPECT_FLOAT_EQ(meter.level, -100.0f); // no lower bound
    EXPECT_EQ(meter.colour.getARGB(), 0x0DFFFFFFu);
    EXPECT_TRUE(near(pill(), ground.overlaidWith(juce::Colour(0x0DFFFFFF))));
    EXPECT_NEAR(tick(0.1f), -20.0f, 1e-4f); // rises at once
    meter.level = -4.0f;
    tick(0.0f);
    EXPECT_EQ(meter.colour, red); // exactly -6
}

TEST_F(EditorWindow, KnobLabelsFollowTheParametersAlsoFromTheHost)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    EXPECT_EQ(editor->knobLabels[0].getText(), "0.0 dB");
    processor.getParameters()[0]->setValueNotifyingHost(0.5f);
    std::thread([&] { processor.getParameters()[1]->setValueNotifyingHost(1.0f); }).join();
    pumpMessages(100);
    EXPECT_EQ(editor->knobLabels[0].getText(), "-10.0 dB");
    EXPECT_EQ(editor->knobLabels[1].getText(), "20.0 dB");
}

TEST_F(EditorWindow, SampleRateMessageFollowsPrepareToPlayOnAnyThread)
{
    CorvaneAudioProcessor processor;
    processor.prepareToPlay(44100.0, 256);
    auto editor = openEditor(processor);
    EXPECT_TRUE(editor->sampleRateLabel.isVisible());
    processor.prepareToPlay(48000.0, 256);
    EXPECT_FALSE(editor->sampleRateLabel.isVisible());
    processor.prepareToPlay(44100.0, 256);
    processor.prepareToPlay(96000.0, 256);
    EXPECT_FALSE(editor->sampleRateLabel.isVisible());

    std::thread([&] { processor.prepareToPlay(44100.0, 256); }).join();
    EXPECT_FALSE(editor->sampleRateLabel.isVisible()); // waits for the message thread
    pumpMessages(100);
    EXPECT_TRUE(editor->sampleRateLabel.isVisible());
}

TEST_F(EditorWindow, VisitWebsiteHandsTheCataloguesAddressToTheBrowserAsItIs)
{
    // A browser of our own first on the PATH, which writes down its arguments.
    const auto bin = home().getChildFile("bin");
    const auto received = home().getChildFile("received");
    ASSERT_TRUE(bin.createDirectory());
    const auto opener = bin.getChildFile("xdg-open");
    ASSERT_TRUE(opener.replaceWithText("#!/bin/sh\nprintf '%s\\n' \"$#\" \"$1\" > \"$0.part\" && mv \"$0.part\" \""
                                       + received.getFullPathName() + "\"\n", false, false, "\n"));
    ASSERT_TRUE(opener.setExecutePermission(true));
    struct PathGuard
    {
        std::string previous = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
        ~PathGuard() { ::setenv("PATH", previous.c_str(), 1); }
    } path;
    ::setenv("PATH", (bin.getFullPathName().toStdString() + ":" + path.previous).c_str(), 1);

    // An address with a shell's quotes and substitutions in it, as a shared catalogue may hold.
    const auto ran = home().getChildFile("ran").getFullPathName();
    const juce::String address = "https://example.com/a\"; touch " + ran + "; \"$(touch " + ran + ")`touch " + ran + "`";
    writeResource("Models/Linked/metadata.txt", "ModelId=Linked\nDeviceName=Linked\nDeviceUrl=" + address + "\n");
    CorvaneAudioProcessor processor;
    processor.setModel("Linked", 0);
    auto editor = openEditor(processor);
    editor->websiteButton.onClick();

    ASSERT_TRUE(plugin_testing::pumpMessagesUntil([&] { return received.existsAsFile(); }, 10000));
    EXPECT_EQ(received.loadFileAsString(), "1\n" + address + "\n");
    pumpMessages(200);
    EXPECT_FALSE(juce::File(ran).exists());
}

TEST_F(EditorWindow, ForcedWidthReturnsTo1545)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    editor->setSize(1000, 700);
    EXPECT_EQ(editor->getBounds(), juce::Rectangle<int>(0, 0, 1545, 1118));
    editor->setSize(1545, 900); // only the width is held
    EXPECT_EQ(editor->modalOverlay.getBounds(), juce::Rectangle<int>(0, 0, 1545, 900));
}
} // namespace
