#include "plugin/PluginPaths.h"

namespace
{
juce::String applicationDataDir()
{
    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory).getFullPathName();
}

void createIfMissing(const juce::String& path)
{
    const juce::File folder(path);
    // A plain file of that name counts as present: nothing is created over it.
    if (!folder.exists())
        folder.createDirectory();
}
} // namespace

juce::String PluginPaths::getManufacturerDir()
{
    return applicationDataDir() + "/" + "Quorvex";
}

juce::String PluginPaths::getPluginResourceDir()
{
    return applicationDataDir() + "/" + "Quorvex" + "/" + "Ferrowick";
}

void PluginPaths::EnsureDirs()
{
    createIfMissing(getManufacturerDir());
    createIfMissing(getPluginResourceDir());
    createIfMissing(getPluginResourceDir() + "/" + "Presets");
}
