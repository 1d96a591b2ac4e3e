#include "plugin/NumberText.h"

#include <cstdint>

namespace
{
bool isDigit(juce::juce_wchar c)
{
    return c >= '0' && c <= '9';
}
} // namespace

juce::String withReadableExponent(const juce::String& text)
{
    // Scans what the framework's reading scans: white space, a sign, digits with at most one
    // decimal point, then "e" or "E", a sign and the exponent's digits.
    const auto start = text.getCharPointer();
    auto p = start.findEndOfWhitespace();
    if (*p == '-' || *p == '+')
        ++p;
    bool digits = false, point = false;
    for (;; ++p)
    {
        if (isDigit(*p))
            digits = true;
        else if (*p == '.' && !point)
            point = true;
        else
            break;
    }
    if (!digits || (*p != 'e' && *p != 'E'))
        return text;
    ++p;
    if (*p == '-' || *p == '+')
        ++p;
    const auto exponentStart = p;
    uint64_t exponent = 0;
    for (; isDigit(*p); ++p)
        if (exponent <= 999999999)
            exponent = exponent * 10 + static_cast<uint64_t>(*p - '0');
    if (exponent <= 999999999)
        return text;
    return juce::String(start, exponentStart) + "999999999" + juce::String(p);
}
