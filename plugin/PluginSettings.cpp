#include "plugin/PluginSettings.h"

#include "plugin/PluginPaths.h"

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
    const auto parsed = juce::JSON::parse(file.loadFileAsString());
    auto* object = parsed.getDynamicObject();
    if (object == nullptr)
        return;

    if (object->hasProperty("UiScaling"))
        settings.UiScaling = static_cast<int>(object->getProperty("UiScaling"));
    if (object->hasProperty("FirstUseDate"))
    {
        const auto text = object->getProperty("FirstUseDate").toString();
        if (text.isNotEmpty())
            settings.FirstUseDate = juce::Time::fromISO8601(text);
    }
    if (object->hasProperty("LastSelectedModelId"))
        settings.LastSelectedModelId = object->getProperty("LastSelectedModelId").toString();
    if (object->hasProperty("LastSelectedModelIdx"))
        settings.LastSelectedModelIdx = static_cast<int>(object->getProperty("LastSelectedModelIdx"));
}
