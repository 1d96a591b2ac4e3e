#include "plugin/PluginSettings.h"

#include "plugin/PluginPaths.h"
#include "plugin/SettingsNumbers.h"

PluginSettings PluginSettings::settings;

namespace
{
juce::File settingsFile()
{
    return juce::File(PluginPaths::getPluginResourceDir() + "/" + "Settings.json");
}
} // namespace

juce::String PluginSettings::ToJson()
{
    auto object = std::make_unique<juce::DynamicObject>();
    object->setProperty("UiScaling", settings.UiScaling);
    object->setProperty("FirstUseDate", settings.FirstUseDate.toISO8601(false));
    object->setProperty("LastSelectedModelId", settings.LastSelectedModelId);
    object->setProperty("LastSelectedModelIdx", settings.LastSelectedModelIdx);
    return juce::JSON::toString(juce::var(object.release()));
}

void PluginSettings::Save()
{
    const auto text = ToJson();
    PluginPaths::EnsureDirs();
    settingsFile().replaceWithText(text, false, false, "\r\n");
}

void PluginSettings::Load()
{
    PluginPaths::EnsureDirs();
    const auto file = settingsFile();
    if (!file.existsAsFile())
    {
        Save();
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
