#include <cmath>
#include <thread>

#include "editor_test_util.h"

namespace
{
using EditorTable = plugin_testing::FreshHome;
using namespace editor_testing;

TEST_F(EditorTable, ColumnsFitTheirTextsAndRowsAreRecorded)
{
    makeCatalogue("--only LinearClean"); // Setting,Gain,Tone / Soft,2,5 / Bright,4,8
    CorvaneAudioProcessor processor;
    settingsFile().deleteFile();
    plugin_testing::changeSettings([](PluginSettings& s) { s.LastSelectedModelIdx = 7; });
    auto editor = openEditor(processor);
    auto& table = editor->snapshotTable;
    auto& header = table.getHeader();
    auto width = [&](const char* text) {
        return static_cast<int>(std::ceil(processor.modelSource->TableFont.getStringWidthFloat(text)));
    };

    EXPECT_EQ(table.getHeaderHeight(), 40);
    EXPECT_EQ(table.getRowHeight(), 30);
    ASSERT_EQ(header.getNumColumns(false), 3);
    const int widths[] = { std::max({ width("Setting"), width("Soft"), width("Bright") }),
                           std::max({ width("Gain"), width("2"), width("4") }),
                           std::max({ width("Tone"), width("5"), width("8") }) };
    for (int i = 0; i < 3; ++i)
    {
        const int id = header.getColumnIdOfIndex(i, false);
        EXPECT_EQ(id, i + 1);
        EXPECT_EQ(header.getColumnWidth(id), widths[i] + 60);
        header.setColumnWidth(id, 0);
        EXPECT_EQ(header.getColumnWidth(id), widths[i] + 40);
        header.setColumnWidth(id, 10000);
        EXPECT_EQ(header.getColumnWidth(id), widths[i] + 160);
    }

    EXPECT_EQ(table.getSelectedRow(), 0); // opening selects and records the entry's row
    EXPECT_EQ(static_cast<int>(savedSetting(settingsFile(), "LastSelectedModelIdx")), 0);
    table.selectRow(1);
    EXPECT_EQ(processor.currentChoice().second, 1);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 1);
    EXPECT_EQ(static_cast<int>(savedSetting(settingsFile(), "LastSelectedModelIdx")), 1);
}

TEST_F(EditorTable, WithoutCurrentRowNothingIsSelectedOrRecorded)
{
    {
        CorvaneAudioProcessor processor; // empty catalogue: the "No Model" entry
        settingsFile().deleteFile();
        auto editor = openEditor(processor);
        EXPECT_EQ(editor->modelButton.getButtonText(), "No Model");
        EXPECT_EQ(editor->snapshotTable.getHeader().getNumColumns(false), 0);
        EXPECT_EQ(editor->snapshotTable.getNumSelectedRows(), 0);
        EXPECT_FALSE(settingsFile().exists());
    }
    makeCatalogue("--only LinearClean");
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    settingsFile().deleteFile();
    processor.setModel("LinearClean", 5); // beyond its two rows: no current row
    EXPECT_EQ(editor->snapshotTable.getNumSelectedRows(), 0);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 0);
    EXPECT_FALSE(settingsFile().exists());
}

// A host restoring state on its own thread: the table follows on the message thread only, and
// keeps the entry it shows alive until then.
TEST_F(EditorTable, RestoreOnHostThreadReachesTheTableOnTheMessageThread)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.setModel("LinearClean", 0);
    auto editor = openEditor(processor);
    const auto shown = editor->tableEntry;

    std::thread([&] { processor.setModel("WaveHigh", 0); }).join();
    EXPECT_EQ(editor->tableEntry, shown);
    EXPECT_EQ(editor->snapshotTable.getNumRows(), 2);
    pumpMessages(100);
    EXPECT_EQ(editor->tableEntry, processor.modelSource);
    EXPECT_EQ(editor->modelButton.getButtonText(), "WaveNet High Gain");
    EXPECT_EQ(editor->snapshotTable.getSelectedRow(), 0);
    // The table's row callback records what plays, as a pair.
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelId, "WaveHigh");
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 0);

    // A restore naming a snapshot that cannot play (row 2's model file is refused): the new
    // entry has no current row, so the table selects none and nothing is recorded.
    std::thread([&] { processor.setModel("WaveHigh", 2); }).join();
    pumpMessages(100);
    EXPECT_EQ(editor->tableEntry, processor.modelSource);
    EXPECT_EQ(editor->snapshotTable.getNumSelectedRows(), 0);
    EXPECT_EQ(PluginSettings::Get().LastSelectedModelIdx, 0);
    EXPECT_FALSE(processor.modelLoadError.isEmpty());
}

TEST_F(EditorTable, ModelDialogChoiceIsRecordedAndPlayed)
{
    makeCatalogue();
    CorvaneAudioProcessor processor;
    processor.setModel("LinearClean", 1);
    processor.setPlayConfigDetails(2, 2, 48000.0, 256);
    processor.prepareToPlay(48000.0, 256);
    auto editor = openEditor(processor);

    editor->modelButton.onClick();
    EXPECT_TRUE(editor->modalOverlay.isVisible());
    EXPECT_EQ(editor->modalOverlay.content, &editor->modelSelectionDialog);
    for (auto& button : editor->modelSelectionDialog.buttons)
        if (button->getButtonText() == "LSTM Lead")
            button->onClick();
    EXPECT_FALSE(editor->modalOverlay.isVisible());
    EXPECT_EQ(processor.currentChoice(), std::make_pair(juce::String("LstmLead"), 0));
    EXPECT_EQ(editor->modelButton.getButtonText(), "LSTM Lead");
    // The table shows the row that plays, and the settings name model and row as a pair (the
    // row played before, 1, is not a row of the new model).
    EXPECT_EQ(editor->snapshotTable.getSelectedRow(), 0);
    EXPECT_EQ(savedSetting(settingsFile(), "LastSelectedModelId").toString(), "LstmLead");
    EXPECT_EQ(static_cast<int>(savedSetting(settingsFile(), "LastSelectedModelIdx")), 0);
    {
        CorvaneAudioProcessor next; // starts with what the last choice played
        EXPECT_EQ(next.currentChoice(), std::make_pair(juce::String("LstmLead"), 0));
        EXPECT_NE(next.modelSource->PendingModel.load(), nullptr);
    }

    juce::AudioBuffer<float> buffer(2, 256);
    for (int i = 0; i < 256; ++i)
        buffer.setSample(0, i, 0.3f * std::sin(0.05f * static_cast<float>(i)));
    juce::MidiBuffer midi;
    processor.processBlock(buffer, midi);
    EXPECT_GT(buffer.getMagnitude(0, 0, 256), 0.0f);
}

// A row whose snapshot cannot play (no model file, or one that is refused) leaves the previous
// snapshot playing: the table goes back to its row, and the settings and the host state name it.
TEST_F(EditorTable, RowThatCannotPlayGivesWayToTheRowThatPlays)
{
    makeCatalogue("--only WaveHigh"); // row 0 plays, row 1 has no model file, row 2 is refused
    CorvaneAudioProcessor processor;
    auto editor = openEditor(processor);
    ASSERT_EQ(processor.currentChoice(), std::make_pair(juce::String("WaveHigh"), 0));
    for (const int row : { 1, 2 })
    {
        editor->snapshotTable.selectRow(row);
        EXPECT_EQ(editor->snapshotTable.getSelectedRow(), 0) << row;
        EXPECT_EQ(processor.currentChoice(), std::make_pair(juce::String("WaveHigh"), 0)) << row;
        EXPECT_EQ(static_cast<int>(savedSetting(settingsFile(), "LastSelectedModelIdx")), 0) << row;
        EXPECT_EQ(savedSetting(settingsFile(), "LastSelectedModelId").toString(), "WaveHigh") << row;
        juce::MemoryBlock state;
        processor.getStateInformation(state);
        const auto xml = juce::AudioProcessor::getXmlFromBinary(state.getData(), static_cast<int>(state.getSize()));
        ASSERT_NE(xml, nullptr);
        EXPECT_EQ(xml->getChildByName("ProgramIndex")->getAllSubText(), "0") << row;
    }
}

// A host state restored on the message thread with the window open: the table selects the
// restored row at once.
TEST_F(EditorTable, RestoreOnTheMessageThreadSelectsTheRestoredRow)
{
    makeCatalogue();
    CorvaneAudioProcessor source;
    source.setModel("LinearClean", 1);
    juce::MemoryBlock state;
    source.getStateInformation(state);

    CorvaneAudioProcessor processor;
    processor.setModel("ConvCrunch", 0);
    auto editor = openEditor(processor);
    processor.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
    EXPECT_EQ(editor->tableEntry, processor.modelSource);
    EXPECT_EQ(editor->snapshotTable.getSelectedRow(), 1);
    EXPECT_EQ(editor->modelButton.getButtonText(), "Linear Clean");
}
} // namespace
