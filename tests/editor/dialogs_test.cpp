#include <map>

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/AboutDialog.h"
#include "editor/CustomLookAndFeel.h"
#include "editor/ModelSelectionDialog.h"
#include "plugin/ModelSource.h"
#include "plugin_test_util.h"

namespace
{
// Both dialogs: a dark rounded panel split by a light vertical line at w/2.
void expectDialogPanel(juce::Component& dialog, const char* name)
{
    CustomLookAndFeel lookAndFeel;  // the default face for anything not given a font of its own
    const auto image = dialog.createComponentSnapshot(dialog.getLocalBounds());
    if (const char* dir = std::getenv("FERROWICK_SNAPSHOT_DIR"))
    {
        juce::FileOutputStream out(juce::File(dir).getChildFile(juce::String(name) + ".png"));
        out.setPosition(0);
        out.truncate();
        juce::PNGImageFormat().writeImageToStream(image, out);
    }
    EXPECT_EQ(image.getPixelAt(8, 175).getARGB(), 0xFF1A1A1Au);
    EXPECT_EQ(image.getPixelAt(0, 0).getAlpha(), 0);  // rounded corner
    for (const int x : {274, 275})
        EXPECT_NEAR(image.getPixelAt(x, 160).getRed(), 0x8D, 2);  // 0x80FFFFFF over 0xFF1A1A1A
    EXPECT_EQ(image.getPixelAt(275, 5).getARGB(), 0xFF1A1A1Au);  // the line starts at y 10
}
} // namespace

class ModelDialog : public plugin_testing::FreshHome
{
};

TEST_F(ModelDialog, OneButtonPerFolderLabelledByDeviceNamePassingTheMetadataModelId)
{
    makeCatalogue();
    writeResource("Models/Renamed/metadata.txt", "ModelId=WaveHigh\nDeviceName=Renamed Device\n");
    ASSERT_TRUE(modelsDir().getChildFile("Empty").createDirectory());
    const std::map<juce::String, std::pair<juce::String, juce::String>> expected = {
        {"LinearClean", {"Linear Clean", "LinearClean"}}, {"ConvCrunch", {"Conv Crunch", "ConvCrunch"}},
        {"LstmLead", {"LSTM Lead", "LstmLead"}},          {"WaveHigh", {"WaveNet High Gain", "WaveHigh"}},
        {"Renamed", {"Renamed Device", "WaveHigh"}},      {"Empty", {"No Model", ""}},
    };

    ModelSelectionDialog dialog;
    juce::Component overlay;
    dialog.overlay = &overlay;
    juce::StringArray chosen;
    dialog.onModelChange = [&](juce::String id) { chosen.add(id); };
    dialog.setSize(550, 180);

    const auto folders = ModelSource::getModelIds();  // directory order
    ASSERT_EQ(folders.size(), 6);
    ASSERT_EQ(dialog.buttons.size(), 6u);
    for (int k = 0; k < 6; ++k)
    {
        auto& button = *dialog.buttons[static_cast<size_t>(k)];
        const auto& [deviceName, modelId] = expected.at(folders[k]);
        EXPECT_EQ(button.getButtonText(), deviceName) << folders[k];
        EXPECT_EQ(button.getParentComponent(), &dialog);
        EXPECT_TRUE(button.isVisible() && button.centred);
        EXPECT_EQ(button.tracking, 4.0f);
        EXPECT_EQ(button.getBounds(), k < 4 ? juce::Rectangle<int>(20, 30 + 35 * k, 235, 20)
                                            : juce::Rectangle<int>(295, 30 + 35 * (k - 4), 235, 20));

        overlay.setVisible(true);
        button.onClick();
        EXPECT_FALSE(overlay.isVisible());
        ASSERT_EQ(chosen.size(), k + 1);
        EXPECT_EQ(chosen[k], modelId) << folders[k];
    }
    expectDialogPanel(dialog, "model-dialog");
}

TEST_F(ModelDialog, NoCatalogueNoButtons)
{
    ModelSelectionDialog dialog;
    EXPECT_TRUE(dialog.buttons.empty());
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
    EXPECT_TRUE(dialog.titleLabel.isVisible() && dialog.linkButton.isVisible());
    expectDialogPanel(dialog, "about-dialog");
}
