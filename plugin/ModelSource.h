#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include <juce_gui_basics/juce_gui_basics.h>

#include "core/dsp.h"
#include "audio/ModelSlots.h"

// One model folder of the catalogue ("Models/<id>" in the resource folder): its metadata, its
// snapshot table, the current snapshot and its models. Also the table model that paints the
// snapshot table in the editor.
//
// The model slots PendingModel and ActiveModel come from ModelSlots, which hands models over to
// the audio thread without locks. Everything else is fixed once the entry is loaded, except
// ProgramIndex and LoudnessGain, which the processor changes under its loading lock.
class ModelSource : public juce::TableListBoxModel, public ferrowick::ModelSlots
{
public:
    ModelSource();
    // Moves the catalogue data; the model slots of the new entry start empty.
    ModelSource(ModelSource&& other) noexcept;
    ModelSource& operator=(ModelSource&&) = delete;
    ~ModelSource() override = default;

    // Names of the catalogue's model folders, in directory order (not sorted).
    static juce::StringArray getModelIds();
    // The entry of the model folder of that name; the "No Model" entry when the folder has no
    // readable, non-empty "metadata.txt".
    static ModelSource loadModel(juce::String id);
    static juce::String getPluginResourceDir();
    // A snapshot index as a file name stem: decimal, left-padded with 0 to three digits.
    static juce::String paddedIndex(int index);

    int getNumRows() override;
    void paintRowBackground(juce::Graphics& g, int rowNumber, int width, int height, bool rowIsSelected) override;
    void paintCell(juce::Graphics& g, int rowNumber, int columnId, int width, int height, bool rowIsSelected) override;
    void selectedRowsChanged(int lastRowSelected) override;

    juce::Font TableFont;
    juce::String ModelId;
    juce::String DeviceName;
    juce::String DeviceUrl;
    bool ScaleSettings = false;
    float GainAdjust = 1.0f; // dB
    juce::StringArray ColumnNames;
    std::vector<juce::StringArray> Rows;
    std::vector<int32_t> ColumnWidths;
    int32_t ProgramIndex = -1;
    std::function<void(int32_t)> RowChangeCallback = [](int32_t) {};
    float LoudnessGain = 1.0f; // linear; the audio thread uses the gain published with each model
    bool BassBoost = false;
    bool BassCut = false;
    bool Lowpass = false;
};

// The web address that the "No Model" entry carries.
inline constexpr const char* MakerWebAddress = "https://www.quorvex.com";

// A "metadata.txt" or "settings.txt" with a longer line reads as missing. No real line comes near
// it, and the window's cost grows with a line: a device name or a cell is drawn in time growing
// with its length on every paint, and the table header is laid out again over all its columns for
// each one added (within this bound a header has at most 4,097 columns, empty ones included).
inline constexpr int maxCatalogueLineLength = 4096;
