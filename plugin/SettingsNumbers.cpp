#include "plugin/SettingsNumbers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/load_limits.h"

namespace settings_numbers
{

namespace
{
bool isDigit(juce::juce_wchar c)
{
    return c >= '0' && c <= '9';
}

// Continues the parser's accumulation of a number's integer part (value * 10 + digit in 64
// bits) over the digits at p; false when it would overflow.
bool digitsFit(int64_t value, juce::CharPointer_UTF8& p)
{
    while (isDigit(*p))
    {
        const int64_t digit = *p - '0';
        if (__builtin_mul_overflow(value, int64_t { 10 }, &value) || __builtin_add_overflow(value, digit, &value))
            return false;
        ++p;
    }
    return true;
}

// An exponent is accumulated in an int and then offset by the count of dropped digits: one of
// ten or more digits (leading zeros aside) may overflow, so it counts as too long.
bool exponentFits(int64_t value, juce::CharPointer_UTF8& p)
{
    for (; isDigit(*p) && value <= 999999999; ++p)
        value = value * 10 + (*p - '0');
    return value <= 999999999;
}

bool isExponentMark(juce::juce_wchar c)
{
    return c == 'e' || c == 'E';
}
} // namespace

bool parserCanRead(const juce::String& jsonText)
{
    auto p = jsonText.getCharPointer();
    juce::juce_wchar quote = 0;
    juce::juce_wchar previous = 0; // the last character outside strings that is not white space
    int depth = 0;                 // open arrays and objects; closing ones beyond the first do not count
    while (!p.isEmpty())
    {
        const juce::juce_wchar c = p.getAndAdvance();
        if (quote != 0)
        {
            if (c == '\\' && !p.isEmpty())
                ++p;
            else if (c == quote)
                quote = 0;
            continue;
        }
        if (c == '"' || c == '\'')
        {
            quote = c;
        }
        else if (c == '[' || c == '{')
        {
            if (++depth > kep::load_limits::max_nesting)
                return false;
        }
        else if (c == ']' || c == '}')
        {
            depth = std::max(depth - 1, 0);
        }
        else if (c == '-' && isExponentMark(previous))
        {
            if (!exponentFits(0, p))
                return false;
        }
        else if (c == '-')
        {
            // The parser skips white space after a minus sign and takes the next character as
            // the first digit, whatever it is (a quote or a bracket then opens nothing): even the
            // end of the text, after which it reads on past the end (or past a zero byte inside
            // the text, beyond which this scan cannot see). Either counts as unreadable.
            p = p.findEndOfWhitespace();
            if (p.isEmpty())
                return false;
            const int64_t first = static_cast<int64_t>(p.getAndAdvance()) - '0';
            if (!digitsFit(first, p))
                return false;
        }
        else if (isDigit(c))
        {
            // An integer part, an exponent (after "e" or "e+"), or the digits after a decimal
            // point, which are not accumulated.
            const int64_t digit = c - '0';
            const bool fits = previous == '.'                                ? true
                              : isExponentMark(previous) || previous == '+' ? exponentFits(digit, p)
                                                                             : digitsFit(digit, p);
            if (!fits)
                return false;
            while (isDigit(*p))
                ++p;
        }
        if (!juce::CharacterFunctions::isWhitespace(c))
            previous = c;
    }
    return true;
}

std::optional<int> toInt(const juce::var& value)
{
    constexpr int64_t intMin = std::numeric_limits<int>::min();
    constexpr int64_t intMax = std::numeric_limits<int>::max();
    if (value.isInt64())
    {
        const juce::int64 v = static_cast<juce::int64>(value);
        return v >= intMin && v <= intMax ? std::optional<int>(static_cast<int>(v)) : std::nullopt;
    }
    if (value.isDouble())
    {
        const double v = static_cast<double>(value);
        return v > -2147483649.0 && v < 2147483648.0 ? std::optional<int>(static_cast<int>(v)) : std::nullopt;
    }
    if (value.isString())
    {
        auto p = value.toString().getCharPointer().findEndOfWhitespace();
        const bool negative = *p == '-';
        if (negative)
            ++p;
        uint64_t magnitude = 0;
        for (; isDigit(*p); ++p)
        {
            magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
            if (magnitude > static_cast<uint64_t>(intMax) + 1)
                return std::nullopt;
        }
        const int64_t v = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
        return v >= intMin && v <= intMax ? std::optional<int>(static_cast<int>(v)) : std::nullopt;
    }
    // int, bool and the types without a number convert safely.
    return static_cast<int>(value);
}

} // namespace settings_numbers
