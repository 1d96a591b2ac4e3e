#pragma once

#include <juce_core/juce_core.h>

// The user settings shared by every plug-in instance in the process, kept in "Settings.json" in
// the resource folder. No lock: used by the thread that constructs processors and by the message
// thread, never by the audio thread.
struct PluginSettings
{
    int UiScaling = 100;
    juce::Time FirstUseDate = juce::Time::getCurrentTime();
    juce::String LastSelectedModelId;
    int LastSelectedModelIdx = 0;

    static PluginSettings settings;

    // Replaces "Settings.json" whole with the record's current values (through a temporary file
    // in the same folder). Failures pass silently.
    static void Save();

    // Creates the folders, then reads "Settings.json" into the record; writes the file from the
    // record when it does not exist. Non-JSON text, a non-object top level and missing keys
    // leave the fields as they are; values of another JSON type are converted. Numbers that do
    // not fit an int leave their field as it is, and a number too long for the parser's
    // arithmetic or nesting deeper than kep::load_limits::max_nesting makes the text count as
    // not JSON.
    static void Load();

    // The file's exact text for the record's current values.
    static juce::String ToJson();
};
