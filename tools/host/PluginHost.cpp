#include "PluginHost.h"

namespace ferrowick_host
{

LoadedPlugin loadVst3Bundle(const juce::File& bundle, double sampleRate, int blockSize, juce::String& error)
{
    LoadedPlugin loaded;
    if (!bundle.isDirectory())
    {
        error = "no VST3 bundle folder at " + bundle.getFullPathName();
        return loaded;
    }

    juce::VST3PluginFormat format;
    juce::OwnedArray<juce::PluginDescription> found;
    format.findAllTypesForFile(found, bundle.getFullPathName());
    if (found.isEmpty())
    {
        error = "the bundle holds no plug-in: " + bundle.getFullPathName();
        return loaded;
    }

    loaded.description = *found.getFirst();
    loaded.instance = format.createInstanceFromDescription(loaded.description, sampleRate, blockSize, error);
    if (loaded.instance == nullptr && error.isEmpty())
        error = "the plug-in could not be instantiated";
    return loaded;
}

} // namespace ferrowick_host
