#pragma once

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include "plugin/PluginPaths.h"
#include "plugin/PluginSettings.h"
#include "test_support.h"

namespace juce
{
// The framework's own step of its message loop (modal loops, which would offer a timed loop, are
// off in this build).
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
} // namespace juce

namespace plugin_testing
{

// Runs the message loop (timers, asynchronous calls) on the calling message thread until done()
// holds or the time is up; returns done().
template <typename Done> bool pumpMessagesUntil(Done done, int milliseconds)
{
    const auto deadline = juce::Time::getMillisecondCounter() + static_cast<juce::uint32>(milliseconds);
    while (!done() && juce::Time::getMillisecondCounter() < deadline)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            juce::Thread::sleep(1);
    return done();
}

// Changes the process-wide settings record without saving it.
template <typename Change> void changeSettings(Change change)
{
    auto record = PluginSettings::Get();
    change(record);
    PluginSettings::Set(record);
}

// Runs the message loop for the given time.
inline void pumpMessages(int milliseconds)
{
    pumpMessagesUntil([] { return false; }, milliseconds);
}

// Every case runs with HOME pointed at a fresh, empty folder (the framework reads HOME afresh on
// each lookup of the application-data folder) and with the process-wide settings record back at
// its defaults.
class FreshHome : public ::testing::Test
{
protected:
    void SetUp() override
    {
        previousHome_ = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
        ::setenv("HOME", home_.path().c_str(), 1);
        PluginSettings::Set(PluginSettings {});
    }

    void TearDown() override
    {
        ::setenv("HOME", previousHome_.c_str(), 1);
        PluginSettings::Set(PluginSettings {});
    }

    juce::File home() const { return juce::File(juce::String(home_.path().string())); }
    juce::File appData() const { return home().getChildFile(".config"); }
    juce::File resourceDir() const { return appData().getChildFile("Quorvex/Ferrowick"); }
    juce::File modelsDir() const { return resourceDir().getChildFile("Models"); }
    juce::File settingsFile() const { return resourceDir().getChildFile("Settings.json"); }

    // Writes text (bytes as given) to a path below the resource folder.
    juce::File writeResource(const juce::String& relativePath, const juce::String& text) const
    {
        const auto file = resourceDir().getChildFile(relativePath);
        file.getParentDirectory().createDirectory();
        file.deleteFile();
        file.create();
        file.appendData(text.toRawUTF8(), text.getNumBytesAsUTF8());
        return file;
    }

    // Runs the catalogue generator into the resource folder; extra is passed on (e.g. "--only X").
    void makeCatalogue(const std::string& extra = {}) const
    {
        const std::string command = "python3 \"" FERROWICK_SOURCE_DIR "/tools/make_catalogue.py\" \""
                                    + resourceDir().getFullPathName().toStdString() + "\" " + extra;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }

private:
    testing_support::TempDir home_;
    std::string previousHome_;
};

} // namespace plugin_testing
