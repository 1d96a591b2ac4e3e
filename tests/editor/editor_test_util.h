#pragma once

#include <chrono>
#include <memory>

#include <juce_gui_basics/juce_gui_basics.h>

#include "editor/PluginEditor.h"
#include "plugin_test_util.h"

namespace juce
{
// The framework's own step of its message loop (modal loops are off in this build).
bool dispatchNextMessageOnSystemQueue(bool returnIfNoPendingMessages);
}

namespace editor_testing
{

// Runs the message loop (timers, async updates) for the given time.
inline void pumpMessages(int milliseconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline)
        if (!juce::dispatchNextMessageOnSystemQueue(true))
            juce::Thread::sleep(1);
}

// Opens the processor's window the way a host does, so that the processor knows it as its editor.
inline std::unique_ptr<CorvaneAudioProcessorEditor> openEditor(CorvaneAudioProcessor& processor)
{
    auto* editor = dynamic_cast<CorvaneAudioProcessorEditor*>(processor.createEditorIfNeeded());
    return std::unique_ptr<CorvaneAudioProcessorEditor>(editor);
}

// A mouse event at (x, y) in the component's own coordinates, reported for that component.
inline juce::MouseEvent mouseAt(juce::Component& component, int x, int y)
{
    const juce::Point<float> position(static_cast<float>(x), static_cast<float>(y));
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent(juce::Desktop::getInstance().getMainMouseSource(), position, {},
                            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                            juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                            juce::MouseInputSource::defaultTiltY, &component, &component, now, position, now, 1, false);
}

inline juce::var readSettings(const juce::File& file)
{
    return juce::JSON::parse(file.loadFileAsString());
}

} // namespace editor_testing
