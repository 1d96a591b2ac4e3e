#pragma once

#include <optional>

#include <juce_core/juce_core.h>

// Numbers of "Settings.json", read without the undefined behaviour that the framework's own
// conversions show for values that do not fit, and the nesting that its parser can take.
namespace settings_numbers
{
// False when the text holds a number whose digits overflow the integers in which the
// framework's JSON parser accumulates them: 64 bits for the integer part (19 digits or more), an
// int for the exponent (taken as too long from 10 digits); such a text is treated as unreadable.
// Digits inside quoted strings do not count. Also false for a minus sign at the end of the text
// (or before a zero byte), after which the parser reads past the end, and for arrays and objects
// nested deeper than kep::load_limits::max_nesting (the parser recurses once per level).
// Brackets inside strings (in double or single quotes, as the parser takes both) do not count;
// the character after a minus sign is part of the number, whatever it is, as for the parser.
bool parserCanRead(const juce::String& jsonText);

// The value as a 32-bit integer by the framework's conversions: a number is truncated toward
// zero, a text is read as juce::String::getIntValue reads it (leading white space, an optional
// minus sign, digits), a boolean gives 1 or 0, anything else 0. Empty when the number does not
// fit the int range (or is NaN or infinite): the caller keeps its field then.
std::optional<int> toInt(const juce::var& value);
} // namespace settings_numbers
