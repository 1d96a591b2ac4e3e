#include <cmath>
#include <thread>

#include "editor_test_util.h"

namespace
{
using EditorTable = plugin_testing::FreshHome;
using editor_testing::openEditor;
using editor_testing::pumpMessages;
using editor_testing::readSettings;

int textWidth(const juce::Font& font, const juce::String& text)
{
    return static_cast<int>(std::ceil(font.getStringWidthFloat(text)));
}

TEST_F(EditorTable, ColumnsFitTheirWidestTextAndTheCurrentRowIsRecorded)
{
    makeCatalogue("--only LinearClean"); // Setting,Gain,Tone / Soft,2,5 / Bright,4,8
    CorvaneAudioProcessor processor;
    settingsFile().deleteFile();
    PluginSettings::settings.LastSelectedModelIdx = 7;
    auto editor = openEditor(processor);
    auto& table = editor->snapshotTable;
    auto& header = table.getHeader();
    const auto& font = processor.modelSource->TableFont;

    EXPECT_EQ(editor->modelButton.getButtonText(), "Linear Clean");
    EXPECT_EQ(table.getHeaderHeight(), 40);
    EXPECT_EQ(table.getRowHeight(), 30);
    EXPECT_EQ(table.getNumRows(), 2);
    ASSERT_EQ(header.getNumColumns(false), 3);
    const int expected[] = { std::max({ textWidth(font, "Setting"), textWidth(font, "Soft"), textWidth(font, "Bright") }),
                             std::max({ textWidth(font, "Gain"), textWidth(font, "2"), textWidth(font, "4") }),
                             std::max({ textWidth(font, "Tone"), textWidth(font, "5"), textWidth(font, "8") }) };
    for (int i = 0; i < 3; ++i)
    {
        const int id = header.getColumnIdOfIndex(i, false);
        EXPECT_EQ(id, i + 1);
        EXPECT_EQ(processor.modelSource->ColumnWidths[static_cast<size_t>(i)], expected[i]);
        EXPECT_EQ(header.getColumnWidth(id), expected[i] + 60);
        header.setColumnWidth(id, 0);
        EXPECT_EQ(header.getColumnWidth(id), expected[i] + 40);
        header.setColumnWidth(id, 10000);
        EXPECT_EQ(header.getColumnWidth(id), expected[i] + 160);
    }

    // Opening selects the entry's row and records it.
    EXPECT_EQ(table.getSelectedRow(), 0);
    EXPECT_EQ(PluginSettings::settings.LastSelectedModelIdx, 0);
    EXPECT_EQ(static_cast<int>(readSettings(settingsFile())["LastSelectedModelIdx"]), 0);

    // A chosen row loads that snapshot and records it.
    table.selectRow(1);
    EXPECT_EQ(processor.currentChoice(), std::make_pair(juce::String("LinearClean"), 1));
    EXPECT_EQ(PluginSettings::settings.LastSelectedModelIdx, 1);
    EXPECT_EQ(static_cast<int>(readSettings(settingsFile())["LastSelectedModelIdx"]), 1);
}

TEST_F(EditorTable, NoModelEntryShowsAnEmptyTableAndRecordsNothing)
{
    CorvaneAudioProcessor processor; // empty catalogue
    settingsFile().deleteFile();
    auto editor = openEditor(processor);
    EXPECT_EQ(editor->modelButton.getButtonText(), "No Model");
    EXPECT_EQ(editor->snapshotTable.getHeader().getNumColumns(false), 0);
    EXPECT_EQ(editor->snapshotTable.getNumRows(), 0);
    EXPECT_EQ(editor->snapshotTable.getNumSelectedRows(), 0);
    EXPECT_FALSE(settingsFile().exists());
}

TEST_F(EditorTable, RefreshWithoutCurrentRowSelectsAndRecordsNothing)
{
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    settingsFile().deleteFile();
    PluginSettings::settings.LastSelectedModelIdx = 1;

    processor.setModel("LinearClean", 5); // beyond its two rows: no current row
    EXPECT_EQ(processor.currentChoice().second, -1);
    EXPECT_EQ(editor->snapshotTable.getNumSelectedRows(), 0);
    EXPECT_EQ(PluginSettings::settings.LastSelectedModelIdx, 1);
    EXPECT_FALSE(settingsFile().exists());
}

// A host restoring its state on its own thread: the table follows on the message thread, and
// never refers to an entry that the processor has let go of.
TEST_F(EditorTable, RestoreOnHostThreadRefreshesTheTableOnTheMessageThread)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.setModel("LstmLead", 0);
    juce::MemoryBlock lstm;
    processor.getStateInformation(lstm);
    processor.setModel("LinearClean", 0);
    auto editor = openEditor(processor);
    const auto shown = editor->tableEntry;

    std::thread host([&] {
        processor.setStateInformation(lstm.getData(), static_cast<int>(lstm.getSize()));
        processor.setModel("WaveHigh", 2); // a model file that the core refuses: no throw, no model
    });
    host.join();
    EXPECT_EQ(editor->tableEntry, shown); // untouched until the message thread runs
    EXPECT_EQ(editor->snapshotTable.getNumRows(), 2);
    pumpMessages(100);

    EXPECT_EQ(editor->tableEntry, processor.modelSource);
    EXPECT_EQ(editor->modelButton.getButtonText(), "WaveNet High Gain");
    EXPECT_EQ(editor->snapshotTable.getNumRows(), 3);
    EXPECT_EQ(editor->snapshotTable.getSelectedRow(), 2);
    EXPECT_EQ(PluginSettings::settings.LastSelectedModelIdx, 2);
    EXPECT_FALSE(processor.modelLoadError.isEmpty());
    EXPECT_EQ(processor.modelSource->PendingModel.load(), nullptr);
}

TEST_F(EditorTable, ModelDialogChoiceIsRecordedAndPlayed)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.setModel("LinearClean", 0);
    processor.setPlayConfigDetails(2, 2, 48000.0, 256);
    processor.prepareToPlay(48000.0, 256);
    auto editor = openEditor(processor);

    editor->modelButton.onClick();
    EXPECT_TRUE(editor->modalOverlay.isVisible());
    EXPECT_EQ(editor->modalOverlay.content, &editor->modelSelectionDialog);
    EXPECT_EQ(editor->modelSelectionDialog.getParentComponent(), &editor->modalOverlay);

    FlatButton* lstm = nullptr;
    for (auto& button : editor->modelSelectionDialog.buttons)
        if (button->getButtonText() == "LSTM Lead")
            lstm = button.get();
    ASSERT_NE(lstm, nullptr);
    lstm->onClick();

    EXPECT_FALSE(editor->modalOverlay.isVisible());
    EXPECT_EQ(processor.currentChoice(), std::make_pair(juce::String("LstmLead"), 0));
    EXPECT_EQ(editor->modelButton.getButtonText(), "LSTM Lead");
    EXPECT_EQ(PluginSettings::settings.LastSelectedModelId, "LstmLead");
    EXPECT_EQ(readSettings(settingsFile())["LastSelectedModelId"].toString(), "LstmLead");

    juce::AudioBuffer<float> buffer(2, 256);
    for (int i = 0; i < 256; ++i)
        buffer.setSample(0, i, 0.3f * std::sin(0.05f * static_cast<float>(i)));
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);
    EXPECT_NE(processor.modelSource->ActiveModel.load(), nullptr);
    EXPECT_GT(buffer.getMagnitude(0, 0, 256), 0.0f);
}
} // namespace
