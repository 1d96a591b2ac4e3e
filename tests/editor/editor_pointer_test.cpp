#include "editor_test_util.h"

namespace
{
using EditorPointer = plugin_testing::FreshHome;
using namespace editor_testing;

TEST_F(EditorPointer, HandCursorOnlyOverTheAboutArea)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto cursorAt = [&](int x, int y) {
        editor->mouseMove(mouseAt(*editor, x, y));
        return editor->getMouseCursor() == juce::MouseCursor(juce::MouseCursor::PointingHandCursor);
    };
    EXPECT_TRUE(cursorAt(399, 105));
    EXPECT_FALSE(cursorAt(400, 105));
    EXPECT_TRUE(cursorAt(0, 0));
    EXPECT_FALSE(cursorAt(399, 106));
}

TEST_F(EditorPointer, VeilOnlyWhileHeldOverThePicture)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    auto pressShowsVeil = [&](juce::Component& on, int x, int y) {
        editor->mouseDown(mouseAt(on, x, y));
        const bool shown = editor->veil.isVisible() && editor->veilLabel.isVisible();
        editor->mouseUp(mouseAt(editor->inputGainSlider, 1, 1)); // any release hides it
        return shown && !editor->veil.isVisible() && !editor->veilLabel.isVisible();
    };
    EXPECT_TRUE(pressShowsVeil(*editor, 400, 122));
    EXPECT_TRUE(pressShowsVeil(*editor, 1145, 740));
    EXPECT_FALSE(pressShowsVeil(*editor, 1146, 400));
    EXPECT_FALSE(pressShowsVeil(*editor, 800, 741));
    EXPECT_FALSE(pressShowsVeil(editor->snapshotTable, 500, 200));
    EXPECT_FALSE(editor->modalOverlay.isVisible());
}

TEST_F(EditorPointer, HelpTextsFollowTheFourControls)
{
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    const std::pair<juce::Component*, const char*> controls[] = {
        { &editor->uiScalingLabel, "Set the User Interface Scaling" },
        { &editor->inputGainSlider, "Adjust the input gain so that aggressive strumming pushes the meter into the green region" },
        { &editor->outputGainSlider, "All models have been loudness normalized, use this slider to control the overall volume of the plugin" },
        { &editor->modelButton, "Choose a different pedal model" },
    };
    for (const auto& [control, text] : controls)
    {
        editor->mouseEnter(mouseAt(*control, 1, 1));
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
    editor->modelButton.onClick(); // the about dialog then takes the model dialog's place
    overlay.setVisible(false);

    editor->mouseDown(mouseAt(*editor, 10, 10));
    EXPECT_TRUE(overlay.isVisible());
    EXPECT_EQ(overlay.content, &editor->aboutDialog);
    EXPECT_EQ(overlay.getNumChildComponents(), 1);
    EXPECT_EQ(editor->aboutDialog.getBounds().getCentre(), overlay.getLocalBounds().getCentre());

    auto* hit = overlay.getComponentAt(20, 20); // the dark area outside the dialog
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
    EXPECT_EQ(PluginSettings::Get().UiScaling, 80);
    EXPECT_EQ(static_cast<int>(savedSetting(settingsFile(), "UiScaling")), 80);
    EXPECT_EQ(editor->uiScalingLabel.getText(), "UI: 80%");
}
} // namespace
