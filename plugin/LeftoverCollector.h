#pragma once

#include <juce_events/juce_events.h>

#include "audio/EntryExchange.h"
#include "plugin/ModelSource.h"

// Frees, on the message thread and without waiting for another change, what the audio thread has
// let go of: catalogue entries that were replaced and models that the current entry's slots no
// longer reach. A realistic model holds tens of megabytes, so it should not linger until the
// next switch. Never runs on the audio thread.
class LeftoverCollector : private juce::Timer
{
public:
    static constexpr int periodMs = 200;

    explicit LeftoverCollector(ferrowick::EntryExchange<ModelSource>& exchange) : entries(exchange)
    {
        startTimer(periodMs);
    }
    ~LeftoverCollector() override { stopTimer(); }

    // Frees what can be freed now (also called by the timer).
    void collectNow()
    {
        entries.collect();
        if (const auto entry = entries.get())
            entry->collect();
    }

private:
    void timerCallback() override { collectNow(); }

    ferrowick::EntryExchange<ModelSource>& entries;
};
