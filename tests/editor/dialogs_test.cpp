#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/AboutDialog.h"
#include "editor/ModelSelectionDialog.h"
#include "plugin/ModelSource.h"
#include "plugin_test_util.h"

namespace
{
// Both dialogs: a dark rounded panel split by a light vertical line at x 275, from y 10 to 170.
void expectPanel(juce::Component& dialog)
{
    const auto image = dialog.createComponentSnapshot(dialog.getLocalBounds());
    EXPECT_EQ(image.getPixelAt(8, 175).getARGB(), 0xFF1A1A1Au);
    EXPECT_EQ(image.getPixelAt(0, 0).getAlpha(), 0);
    EXPECT_NEAR(image.getPixelAt(274, 160).getRed(), 0x8D, 2);  // 0x80FFFFFF over 0xFF1A1A1A
    EXPECT_NEAR(image.getPixelAt(275, 160).getRed(), 0x8D, 2);
    EXPECT_EQ(image.getPixelAt(275, 5).getARGB(), 0xFF1A1A1Au);
}
} // namespace

class ModelDialog : public plugin_testing::FreshHome
{
};

TEST_F(ModelDialog, OneButtonPerFolderLabelledByDeviceNamePassingTheMetadataModelId)
{
    makeCatalogue();
    writeResource("Models/Renamed/metadata.txt", "ModelId=WaveHigh\nDeviceName=Renamed Device\n");
    ASSERT_TRUE(modelsDir().getChildFile("Empty").createDirectory());  // no metadata
    const std::map<juce::String, juce::String> expected = {  // folder -> "DeviceName/ModelId"
        {"LinearClean", "Linear Clean/LinearClean"}, {"ConvCrunch", "Conv Crunch/ConvCrunch"},
        {"LstmLead", "LSTM Lead/LstmLead"}, {"WaveHigh", "WaveNet High Gain/WaveHigh"},
        {"Renamed", "Renamed Device/WaveHigh"}, {"Empty", "No Model/"}};

    ModelSelectionDialog dialog;
    juce::Component overlay;
    dialog.overlay = &overlay;
    juce::String chosen;
    dialog.onModelChange = [&](juce::String id) { chosen = id; };
    dialog.setSize(550, 180);

    const auto folders = ModelSource::getModelIds();  // directory order
    ASSERT_EQ(folders.size(), 6);
    ASSERT_EQ(dialog.buttons.size(), 6u);
    for (int k = 0; k < 6; ++k)
    {
        auto& button = *dialog.buttons[static_cast<size_t>(k)];
        EXPECT_TRUE(button.isVisible() && button.getParentComponent() == &dialog);
        EXPECT_EQ(button.getBounds(), k < 4 ? juce::Rectangle<int>(20, 30 + 35 * k, 235, 20)
                                            : juce::Rectangle<int>(295, 30 + 35 * (k - 4), 235, 20));
        overlay.setVisible(true);
        button.onClick();
        EXPECT_FALSE(overlay.isVisible());
        EXPECT_EQ(button.getButtonText() + "/" + chosen, expected.at(folders[k]));
    }
    expectPanel(dialog);
}

TEST(AboutDialog, TitleLinkLayoutAndPanel)
{
    AboutDialog dialog;
    dialog.setSize(550, 180);
    EXPECT_EQ(dialog.titleLabel.getText(), "Ferrowick 1.0.5\nDesigned by Quorvex");
    EXPECT_EQ(dialog.titleLabel.getFont().getTypefacePtr()->getStyle(), "Light");
    EXPECT_EQ(dialog.linkButton.getButtonText(), juce::String(MakerWebAddress));
    EXPECT_EQ(dialog.titleLabel.getBounds(), juce::Rectangle<int>(10, 30, 255, 50));
    EXPECT_EQ(dialog.linkButton.getBounds(), juce::Rectangle<int>(30, 100, 215, 24));
    expectPanel(dialog);
}
