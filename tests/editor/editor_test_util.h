#pragma once

#include <memory>

#include "editor/PluginEditor.h"
#include "plugin_test_util.h"

namespace editor_testing
{
using plugin_testing::pumpMessages;

// Opens the window the way a host does, so that the processor knows it as its editor.
inline std::unique_ptr<CorvaneAudioProcessorEditor> openEditor(CorvaneAudioProcessor& processor)
{
    return std::unique_ptr<CorvaneAudioProcessorEditor>(
        dynamic_cast<CorvaneAudioProcessorEditor*>(processor.createEditorIfNeeded()));
}

// A mouse event at (x, y) in the component's own coordinates, reported for that component.
inline juce::MouseEvent mouseAt(juce::Component& c, int x, int y)
{
    const juce::Point<float> p(static_cast<float>(x), static_cast<float>(y));
    const auto now = juce::Time::getCurrentTime();
    return { juce::Desktop::getInstance().getMainMouseSource(), p, {}, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, &c, &c, now, p,
             now, 1, false };
}

inline juce::var savedSetting(const juce::File& settingsFile, const char* key)
{
    return juce::JSON::parse(settingsFile.loadFileAsString())[key];
}
} // namespace editor_testing
