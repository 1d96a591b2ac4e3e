#include "plugin/ModelSource.h"

#include <cmath>
#include <map>

#include "BinaryData.h"
#include "audio/Gain.h"
#include "plugin/CatalogueFile.h"
#include "plugin/NumberText.h"
#include "plugin/PluginPaths.h"

namespace
{
juce::String modelsDir()
{
    return ModelSource::getPluginResourceDir() + "/" + "Models";
}

// Whether an id names a folder inside "Models" and nothing else. Ids come from host state and from
// "metadata.txt", which may come from anywhere: "..", "." or a path must not reach outside.
bool isFolderName(const juce::String& id)
{
    return !id.containsAnyOf("/\\") && id != "." && id != "..";
}

// The lines of a file of a model folder; none when it is missing, not a regular file, larger than
// a catalogue's text may be or has a line longer than maxCatalogueLineLength, or when the id does
// not name a folder of the catalogue.
juce::StringArray readLines(const juce::String& id, const juce::String& fileName)
{
    juce::StringArray lines;
    if (!isFolderName(id))
        return lines;
    const auto bytes = readCatalogueFile(juce::File(modelsDir() + "/" + id + "/" + fileName), maxCatalogueTextBytes);
    if (bytes.has_value())
        lines.addLines(juce::String::createStringFromData(bytes->getData(), static_cast<int>(bytes->getSize())));
    for (const auto& line : lines)
        if (line.length() > maxCatalogueLineLength)
            return {};
    return lines;
}

bool isFlag(const std::map<juce::String, juce::String>& values, const char* key)
{
    const auto found = values.find(key);
    return found != values.end() && found->second.toLowerCase() == "true";
}

juce::String valueOf(const std::map<juce::String, juce::String>& values, const char* key)
{
    const auto found = values.find(key);
    return found != values.end() ? found->second : juce::String();
}

// Maps a value on a 1 to 9 scale onto 0 to 10, rounded to the nearest half.
juce::String scaledCell(const juce::String& text)
{
    const float x = text.getFloatValue();
    const float t = x - 1.0f;
    const double d = static_cast<double>(t) * 0.125 * 20.0;
    const int n = juce::roundToInt(static_cast<float>(d));
    return juce::String(n * 0.5, 1);
}

// The face of the table font, made once for the process from the embedded Open Sans Light.
// Entries are built and freed on whichever thread changes the model, a host thread restoring a
// project included, while an open window makes and frees its own faces on the message thread; the
// font engine must not make or free faces on two threads at once, so the entries share this one
// face, which lives as long as the plug-in, and make or free none themselves.
juce::Typeface::Ptr tableTypeface()
{
    static const juce::Typeface::Ptr face =
        juce::Typeface::createSystemTypefaceFor(BinaryData::OpenSansLight_ttf, BinaryData::OpenSansLight_ttfSize);
    return face;
}
} // namespace

ModelSource::ModelSource()
{
    TableFont = juce::Font(tableTypeface());
    TableFont.setHeight(22.0f);
}

ModelSource::ModelSource(ModelSource&& other) noexcept
    : juce::TableListBoxModel(), ModelSlots(), TableFont(std::move(other.TableFont)), ModelId(std::move(other.ModelId)),
      DeviceName(std::move(other.DeviceName)), DeviceUrl(std::move(other.DeviceUrl)), ScaleSettings(other.ScaleSettings),
      GainAdjust(other.GainAdjust), ColumnNames(std::move(other.ColumnNames)), Rows(std::move(other.Rows)),
      ColumnWidths(std::move(other.ColumnWidths)), ProgramIndex(other.ProgramIndex),
      RowChangeCallback(std::move(other.RowChangeCallback)), LoudnessGain(other.LoudnessGain),
      BassBoost(other.BassBoost), BassCut(other.BassCut), Lowpass(other.Lowpass)
{
}

juce::String ModelSource::getPluginResourceDir()
{
    return PluginPaths::getPluginResourceDir();
}

juce::String ModelSource::paddedIndex(int index)
{
    return juce::String(index).paddedLeft('0', 3);
}

juce::StringArray ModelSource::getModelIds()
{
    juce::StringArray ids;
    const juce::File folder(modelsDir());
    for (const auto& child : folder.findChildFiles(juce::File::findDirectories, false, "*", juce::File::FollowSymlinks::yes))
        ids.add(child.getFileName());
    return ids;
}

ModelSource ModelSource::loadModel(juce::String id)
{
    const auto metadataLines = readLines(id, "metadata.txt");
    auto noModel = [] {
        ModelSource none;
        none.DeviceName = "No Model";
        none.DeviceUrl = MakerWebAddress;
        return none;
    };
    if (metadataLines.isEmpty())
        return noModel();

    std::map<juce::String, juce::String> values;
    for (const auto& line : metadataLines)
    {
        const int equals = line.indexOfChar('=');
        if (equals <= 0)
            continue;
        values[line.substring(0, equals)] = line.substring(equals + 1);
    }

    // The snapshots' files are found through "ModelId": one that names no folder of the catalogue
    // makes the folder as unusable as one without metadata.
    if (!isFolderName(valueOf(values, "ModelId")))
        return noModel();

    ModelSource entry;
    entry.ModelId = valueOf(values, "ModelId");
    entry.DeviceName = valueOf(values, "DeviceName");
    entry.DeviceUrl = valueOf(values, "DeviceUrl");
    entry.ScaleSettings = isFlag(values, "ScaleSettings");
    entry.GainAdjust = withReadableExponent(valueOf(values, "GainAdjust")).getFloatValue();
    // A trim whose factor is zero, too small for a normal float (flushed to zero in the audio
    // blocks) or not finite ("nan", 1000 dB) could only silence or flood the audio: it counts as
    // 0 dB, as a value that is not a number does.
    const float trim = ferrowick::dbToGain(entry.GainAdjust);
    if (!std::isnormal(trim))
        entry.GainAdjust = 0.0f;
    entry.Lowpass = isFlag(values, "Lowpass");
    entry.BassCut = isFlag(values, "BassCut");
    entry.BassBoost = isFlag(values, "BassBoost");

    bool haveHeader = false;
    for (const auto& line : readLines(id, "settings.txt"))
    {
        juce::StringArray tokens;
        tokens.addTokens(line.trim(), ",", "\"");
        if (tokens.size() < 2)
            continue;
        if (!haveHeader)
        {
            entry.ColumnNames = tokens;
            haveHeader = true;
        }
        else if (tokens.size() == entry.ColumnNames.size())
        {
            entry.Rows.push_back(tokens);
        }
    }

    if (entry.ScaleSettings)
    {
        for (auto& row : entry.Rows)
            for (int cell = 1; cell < row.size(); ++cell)
                if (row[cell].containsOnly("0123456789.-"))
                    row.set(cell, scaledCell(row[cell]));
    }
    return entry;
}

int ModelSource::getNumRows()
{
    return static_cast<int>(Rows.size());
}

void ModelSource::paintRowBackground(juce::Graphics& g, int rowNumber, int width, int height, bool rowIsSelected)
{
    const float alpha = rowIsSelected ? 0.2f : (rowNumber % 2 == 0 ? 0.05f : 0.0f);
    g.setColour(juce::Colours::white.withAlpha(alpha));
    g.fillRect(0, 0, width, height);
}

void ModelSource::paintCell(juce::Graphics& g, int rowNumber, int columnId, int width, int height, bool /*rowIsSelected*/)
{
    g.setFont(TableFont);
    g.setColour(juce::Colours::white.withAlpha(static_cast<juce::uint8>(0xB2)));
    juce::String text;
    if (rowNumber >= 0 && rowNumber < getNumRows())
    {
        const auto& row = Rows[static_cast<size_t>(rowNumber)];
        if (columnId >= 1 && columnId <= row.size())
            text = row[columnId - 1];
    }
    g.drawText(text, juce::Rectangle<float>(5.0f, 0.0f, static_cast<float>(width), static_cast<float>(height)),
               juce::Justification::centredLeft, true);
}

void ModelSource::selectedRowsChanged(int lastRowSelected)
{
    RowChangeCallback(lastRowSelected);
}
