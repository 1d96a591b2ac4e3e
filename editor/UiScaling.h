#pragma once

#include <functional>
#include <optional>

#include <juce_gui_basics/juce_gui_basics.h>

// The window's scaling: the nine percentages of the scaling menu, the fit of the window on the
// primary display, and the scale the editor applies.

// The scaling menu: items 1 to 9 for 70% to 150%, each enabled when fit * 100 reaches its
// percentage and ticked when it equals uiScaling.
juce::PopupMenu uiScalingMenu(float fit, int uiScaling);

// Shows the scaling menu (ticked by the stored UiScaling setting) at the pointer, asynchronously;
// a chosen item hands its percentage to choice, a dismissed menu does nothing.
void ShowUiScalingMenu(juce::LookAndFeel* lookAndFeel, float fit, std::function<void(int)> choice);

// The largest scale at which the window leaves 120 pixels of the user area free in each direction.
double displayFit(int userAreaWidth, int userAreaHeight);

// The display fit of the primary display's user area; nullopt without a primary display.
std::optional<double> primaryDisplayFit();

// The scale the editor applies: min(fit, uiScaling / 100), with a fit below 0.5 taken as 0.5 and a
// uiScaling of 0 or below taken as 100.
double uiScale(double fit, int uiScaling);
