#pragma once

#include <functional>

#include <juce_core/juce_core.h>

// The user settings shared by every plug-in instance in the process, kept in "Settings.json" in
// the resource folder. Host threads construct processors (and load the record) while the window
// changes it on the message thread, so one lock guards the record and the file: Get() takes a
// copy under it, and every change and save happens under it. The audio thread never uses it.
struct PluginSettings
{
    int UiScaling = 100;
    juce::Time FirstUseDate = juce::Time::getCurrentTime();
    juce::String LastSelectedModelId;
    int LastSelectedModelIdx = 0;

    // A copy of the process-wide record.
    static PluginSettings Get();
    // Replaces the record (nothing is saved).
    static void Set(const PluginSettings& record);
    // Changes the record and saves it, both under the lock.
    static void Update(const std::function<void(PluginSettings&)>& change);

    // Replaces "Settings.json" whole with the record's current values, through a temporary file
    // in the same folder; a symbolic link is written through, and the file keeps its permissions.
    // A write that does not reach the disk whole leaves the old file as it was; failures pass
    // silently.
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

private:
    static PluginSettings settings;
};
