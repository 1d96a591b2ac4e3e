#pragma once

#include <juce_core/juce_core.h>

// The framework's text-to-number reading (juce::String::getDoubleValue and getFloatValue)
// accumulates a number's exponent in an int, which an exponent of ten or more digits overflows.
// Returns the text with such an exponent replaced by 999999999 (its sign kept), which the
// framework reads as it would read the true value: infinity for a non-zero number with a huge
// positive exponent, zero with a huge negative one. Any other text comes back unchanged.
juce::String withReadableExponent(const juce::String& text);
