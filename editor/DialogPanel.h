#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The dark panel of the window's dialogs: a rounded fill with a divider down the middle.
void paintDialogPanel(juce::Graphics& g, int width, int height);
