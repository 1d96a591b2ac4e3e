#pragma once

#include <juce_core/juce_core.h>

// Where the plug-in keeps its files: <user application data>/Quorvex/Ferrowick.
struct PluginPaths
{
    static juce::String getManufacturerDir();
    static juce::String getPluginResourceDir();
    // Creates the maker folder, the resource folder and its "Presets" folder where missing.
    // "Models" is never created. Failures pass silently.
    static void EnsureDirs();
};
