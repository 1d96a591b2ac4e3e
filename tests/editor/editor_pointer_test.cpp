#include "editor_test_util.h"

namespace
{
using EditorPointer = plugin_testing::FreshHome;
using editor_testing::mouseAt;
using editor_testing::openEditor;
using editor_testing::readSettings;

TEST_F(EditorPointer, HandCursorOnlyOverTheAboutArea)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    const juce::MouseCursor hand(juce::MouseCursor::PointingHandCursor), normal(juce::MouseCursor::NormalCursor);

    editor->mouseMove(mouseAt(*editor, 399, 105));
    EXPECT_EQ(editor->getMouseCursor(), hand);
    editor->mouseMove(mouseAt(*editor, 400, 105));
    EXPECT_EQ(editor->getMouseCursor(), normal);
    editor->mouseMove(mouseAt(*editor, 0, 0));
    editor->mouseMove(mouseAt(*editor, 399, 106));
    EXPECT_EQ(editor->getMouseCursor(), normal);
    editor->mouseMove(mouseAt(*editor, 0, 0));
    editor->mouseMove(mouseAt(editor->modelButton, 500, 500)); // moves over other components change nothing
    EXPECT_EQ(editor->getMouseCursor(), hand);
}

TEST_F(EditorPointer, VeilWhileTheButtonIsHeldOverThePicture)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto pressShowsVeil = [&](juce::Component& on, int x, int y) {
        editor->mouseDown(mouseAt(on, x, y));
        const bool shown = editor->veil.isVisible();
        EXPECT_EQ(editor->veilLabel.isVisible(), shown);
        editor->mouseUp(mouseAt(on, x, y));
        EXPECT_FALSE(editor->veil.isVisible());
        EXPECT_FALSE(editor->veilLabel.isVisible());
        return shown;
    };
    EXPECT_TRUE(pressShowsVeil(*editor, 400, 122));
    EXPECT_TRUE(pressShowsVeil(*editor, 1145, 740));
    EXPECT_FALSE(pressShowsVeil(*editor, 1146, 400));
    EXPECT_FALSE(pressShowsVeil(*editor, 800, 741));
    EXPECT_FALSE(pressShowsVeil(editor->snapshotTable, 500, 200));

    // Any release hides it, whatever it was reported for.
    editor->mouseDown(mouseAt(*editor, 800, 400));
    editor->mouseUp(mouseAt(editor->inputGainSlider, 1, 1));
    EXPECT_FALSE(editor->veil.isVisible());
    EXPECT_FALSE(editor->modalOverlay.isVisible());
}

TEST_F(EditorPointer, HelpTextsFollowTheFourControls)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    const std::pair<juce::Component*, const char*> controls[] = {
        { &editor->uiScalingLabel, "Set the User Interface Scaling" },
        { &editor->inputGainSlider,
          "Adjust the input gain so that aggressive strumming pushes the meter into the green region" },
        { &editor->outputGainSlider,
          "All models have been loudness normalized, use this slider to control the overall volume of the plugin" },
        { &editor->modelButton, "Choose a different pedal model" },
    };
    for (const auto& [control, text] : controls)
    {
        editor->mouseEnter(mouseAt(*control, 1, 1));
        EXPECT_EQ(editor->helpLabel.getText(), text);
        editor->mouseEnter(mouseAt(editor->snapshotTable, 1, 1));
        editor->mouseExit(mouseAt(editor->knobLabels[0], 1, 1));
        EXPECT_EQ(editor->helpLabel.getText(), text);
        editor->mouseExit(mouseAt(*control, 1, 1));
        EXPECT_EQ(editor->helpLabel.getText(), "");
    }
}

TEST_F(EditorPointer, AboutDialogOpensFromTheAboutAreaAndClosesOutsideIt)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto& overlay = editor->modalOverlay;

    editor->modelButton.onClick(); // the model dialog first: the about dialog takes its place
    overlay.setVisible(false);
    editor->mouseDown(mouseAt(*editor, 10, 10));
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(overlay.content, &editor->aboutDialog);
    EXPECT_EQ(overlay.getNumChildComponents(), 1);
    EXPECT_EQ(editor->aboutDialog.getParentComponent(), &overlay);
    EXPECT_EQ(editor->aboutDialog.getBounds(), juce::Rectangle<int>(497, 469, 550, 180));
    EXPECT_FALSE(editor->veil.isVisible());

    // A click on the dark area outside the dialog reaches the overlay, which closes.
    auto* hit = overlay.getComponentAt(20, 20);
    ASSERT_EQ(hit, &overlay);
    hit->mouseDown(mouseAt(*hit, 20, 20));
    EXPECT_FALSE(overlay.isVisible());
}

TEST_F(EditorPointer, ScalingChoiceIsStoredSavedAndShown)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    EXPECT_EQ(editor->uiScalingLabel.getText(), "UI: 100%");
    editor->uiScalingChosen(80);
    EXPECT_EQ(PluginSettings::settings.UiScaling, 80);
    EXPECT_EQ(static_cast<int>(readSettings(settingsFile())["UiScaling"]), 80);
    EXPECT_EQ(editor->uiScalingLabel.getText(), "UI: 80%");
}
} // namespace
