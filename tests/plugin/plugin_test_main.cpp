#include <cstdlib>

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include "test_support.h"

// Runs the plug-in tests with the framework initialised (message manager, timers) and with HOME
// pointed at a temporary folder for the whole run, so that nothing reaches the real home folder.
int main(int argc, char** argv)
{
    testing_support::TempDir home;
    ::setenv("HOME", home.path().c_str(), 1);
    ::testing::InitGoogleTest(&argc, argv);
    juce::ScopedJuceInitialiser_GUI framework;
    return RUN_ALL_TESTS();
}
