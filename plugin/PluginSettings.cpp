#include "plugin/PluginSettings.h"

#include <mutex>

#include "plugin/FileReplacement.h"
#include "plugin/PluginPaths.h"
#include "plugin/SettingsNumbers.h"

PluginSettings PluginSettings::settings;

namespace
{
// Guards PluginSettings::settings and "Settings.json".
std::mutex settingsLock;

juce::File settingsFile()
{
    return juce::File(PluginPaths::getPluginResourceDir() + "/" + "Settings.json");
}

juce::String toJson(const PluginSettings& record)
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty("UiScaling", record.UiScaling);
    object->setProperty("FirstUseDate", record.FirstUseDate.toISO8601(false));
    object->setProperty("LastSelectedModelId", record.LastSelectedModelId);
    object->setProperty("LastSelectedModelIdx", record.LastSelectedModelIdx);
    return juce::JSON::toString(juce::var(object.release()));
}

// Writes the text (line ends "\r\n", UTF-8 without byte-order mark) to a hidden temporary file
// next to the target and moves it over the target only when every byte reached the disk. A link
// is written through (its final target is replaced), and the replaced file's permissions stay.
void replaceWhole(const juce::File& file, const juce::String& text)
{
    juce::MemoryOutputStream bytes;
    bytes.writeText(text, false, false, "\r\n");

    const auto target = file_replacement::target(file);
    if (!target)
        return; // a loop of links, or an end in a missing folder: left as it is
    juce::TemporaryFile temporary(*target, juce::TemporaryFile::useHiddenFile);
    bool written = false;
    {
        // Unbuffered, so that a short write is reported by write() itself.
        juce::FileOutputStream out(temporary.getFile(), 0);
        written = out.openedOk() && out.write(bytes.getData(), bytes.getDataSize());
        if (written)
        {
            out.flush();
            written = out.getStatus().wasOk();
        }
    }
    written = written && file_replacement::keepPermissions(*target, temporary.getFile());
    if (written)
        temporary.overwriteTargetFileWithTemporary();
    // Otherwise the temporary file is deleted with `temporary`.
}

void saveLocked(const PluginSettings& record)
{
    const auto text = toJson(record);
    PluginPaths::EnsureDirs();
    replaceWhole(settingsFile(), text);
}
} // namespace

PluginSettings PluginSettings::Get()
{
    std::lock_guard<std::mutex> lock(settingsLock);
    return settings;
}

void PluginSettings::Set(const PluginSettings& record)
{
    std::lock_guard<std::mutex> lock(settingsLock);
    settings = record;
}

void PluginSettings::Update(const std::function<void(PluginSettings&)>& change)
{
    std::lock_guard<std::mutex> lock(settingsLock);
    change(settings);
    saveLocked(settings);
}

juce::String PluginSettings::ToJson()
{
    std::lock_guard<std::mutex> lock(settingsLock);
    return toJson(settings);
}

void PluginSettings::Save()
{
    std::lock_guard<std::mutex> lock(settingsLock);
    saveLocked(settings);
}

void PluginSettings::Load()
{
    std::lock_guard<std::mutex> lock(settingsLock);
    PluginPaths::EnsureDirs();
    const auto file = settingsFile();
    if (!file.existsAsFile())
    {
        saveLocked(settings);
        return;
    }

    PluginPaths::EnsureDirs();
    const auto fileText = file.loadFileAsString();
    // A number too long for the parser's integer arithmetic, or nesting too deep for its
    // recursion, counts as text that is not JSON.
    if (!settings_numbers::parserCanRead(fileText))
        return;
    const auto parsed = juce::JSON::parse(fileText);
    auto* object = parsed.getDynamicObject();
    if (object == nullptr)
        return;

    // A number outside the int range leaves its field as it is.
    if (object->hasProperty("UiScaling"))
        settings.UiScaling = settings_numbers::toInt(object->getProperty("UiScaling")).value_or(settings.UiScaling);
    if (object->hasProperty("FirstUseDate"))
    {
        const auto text = object->getProperty("FirstUseDate").toString();
        if (text.isNotEmpty())
            settings.FirstUseDate = juce::Time::fromISO8601(text);
    }
    if (object->hasProperty("LastSelectedModelId"))
        settings.LastSelectedModelId = object->getProperty("LastSelectedModelId").toString();
    if (object->hasProperty("LastSelectedModelIdx"))
        settings.LastSelectedModelIdx =
            settings_numbers::toInt(object->getProperty("LastSelectedModelIdx")).value_or(settings.LastSelectedModelIdx);
}
