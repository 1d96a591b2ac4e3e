#pragma once

#include <juce_graphics/juce_graphics.h>

// The window's named colours (ARGB). They feed the look and feel's colour table.
inline const juce::Colour ColourPrimary {0x99010101};
inline const juce::Colour ColourAlmostWhite {0xFFFCFCFC};
inline const juce::Colour ColourMenuBackground {0xFFF0F0F0};
inline const juce::Colour ColourMenuText {0xFF282828};
inline const juce::Colour ColourMenuHighlight {0xFFBEBEBE};
