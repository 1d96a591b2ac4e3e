#include "plugin/StateBlock.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/load_limits.h"
#include "plugin/NumberText.h"

namespace
{
constexpr juce::uint32 magic = 0x21324356; // "VC2!"

// True when the only processing instruction is one at the very start (after white space).
bool onlyLeadingProcessingInstruction(const juce::String& text)
{
    const int first = text.indexOf("<?");
    if (first < 0)
        return true;
    if (!text.substring(0, first).trim().isEmpty())
        return false;
    return text.indexOf(first + 2, "<?") < 0;
}

using Text = juce::String::CharPointerType;

// The characters the parser takes into tag and attribute names.
bool isNameCharacter(juce::juce_wchar c)
{
    static const juce::uint32 ascii[] = { 0, 0x7ff6000, 0x87fffffe, 0x7fffffe, 0 };
    const auto code = static_cast<juce::uint32>(c);
    if (code < 160)
        return (ascii[code >> 5] & (juce::uint32 { 1 } << (code & 31))) != 0;
    return juce::CharacterFunctions::isLetterOrDigit(c) || c == '_' || c == '-' || c == ':' || c == '.';
}

Text endOfName(Text p)
{
    while (isNameCharacter(*p))
        ++p;
    return p;
}

// Moves p over opening characters and on past the next closing; false when there is none.
bool skipPast(Text& p, int opening, const char* closing)
{
    p += opening;
    const int found = p.indexOf(juce::CharPointer_ASCII(closing));
    if (found < 0)
        return false;
    p += found + static_cast<int>(std::strlen(closing));
    return true;
}

// Skips white space, comments and processing instructions, as the parser does between items and
// inside tags; false at the end of the text or in a comment or instruction that is not closed,
// after which the parser opens no further element.
bool skipSpace(Text& p)
{
    for (;;)
    {
        p = p.findEndOfWhitespace();
        if (p.isEmpty())
            return false;
        if (*p == '<' && p[1] == '!' && p[2] == '-' && p[3] == '-')
        {
            if (!skipPast(p, 4, "-->"))
                return false;
        }
        else if (*p == '<' && p[1] == '?')
        {
            if (!skipPast(p, 2, "?>"))
                return false;
        }
        else
            return true;
    }
}

// Moves p over a reference that the parser reads as exactly these characters: "&amp;", "&quot;",
// "&apos;", "&lt;", "&gt;" (in any case), "&#" and decimal digits or "&#x" and hexadecimal ones,
// closed by ';'. False for any other: the parser takes another name up to the next ';' wherever
// that is (across quotes and tags) and reads it as markup when it starts with '<', and it steps
// over the character after a numeric reference that is not closed (a closing quote, or the end of
// the text).
bool skipReference(Text& p)
{
    ++p;
    for (const char* name : { "amp;", "quot;", "apos;", "lt;", "gt;" })
    {
        const int length = static_cast<int>(std::strlen(name));
        if (p.compareIgnoreCaseUpTo(juce::CharPointer_ASCII(name), length) == 0)
        {
            p += length;
            return true;
        }
    }
    if (*p != '#')
        return false;
    ++p;
    const bool hexadecimal = *p == 'x' || *p == 'X';
    if (hexadecimal)
        ++p;
    else if (!juce::CharacterFunctions::isDigit(*p))
        return false;
    while (hexadecimal ? juce::CharacterFunctions::getHexDigitValue(*p) >= 0 : juce::CharacterFunctions::isDigit(*p))
        ++p;
    if (*p != ';')
        return false;
    ++p;
    return true;
}

// Reads the document as the framework's parser does (white space, comments, processing
// instructions, CDATA sections, closing tags skipped to their '>', attribute values in either
// quote) without its recursion. True when no element nests deeper than
// kep::load_limits::max_nesting and every reference is one of skipReference's. The parser
// recurses once per element level, and so do the walks over what it builds. Where the parser
// gives up on a broken tag or closes levels on an error this count goes on, so it comes out
// higher, never lower; text after the document element is counted too.
bool parserCanRead(const juce::String& xml)
{
    constexpr int limit = kep::load_limits::max_nesting;
    auto p = xml.getCharPointer();
    int depth = 0;
    int deepest = 0;
    // Where the text ends or a comment is left open the parser stops, possibly just after
    // entering one more level.
    auto stop = [&] { return std::max(deepest, depth + 1) <= limit; };
    while (skipSpace(p))
    {
        if (*p == '&')
        {
            if (!skipReference(p))
                return false;
            continue;
        }
        if (*p != '<')
        {
            ++p;
            continue;
        }
        if (p[1] == '/')
        {
            depth = std::max(depth - 1, 0);
            const int end = p.indexOf(static_cast<juce::juce_wchar>('>'));
            if (end < 0)
                return stop();
            p += end + 1;
            continue;
        }
        if (p[1] == '!' && juce::CharacterFunctions::compareUpTo(p + 2, juce::CharPointer_ASCII("[CDATA["), 7) == 0)
        {
            if (!skipPast(p, 9, "]]>"))
                return stop();
            continue;
        }

        // A start tag. Without a name (white space and comments may come first) the parser reads
        // on from there as content.
        ++p;
        if (!isNameCharacter(*p))
        {
            if (!skipSpace(p))
                return stop();
            if (!isNameCharacter(*p))
                continue;
        }
        p = endOfName(p);
        for (;;)
        {
            if (!skipSpace(p))
                return stop();
            const auto c = *p;
            if (c == '/' && p[1] == '>')
            {
                p += 2;
                deepest = std::max(deepest, depth + 1);
                break;
            }
            if (c == '>')
            {
                ++p;
                deepest = std::max(deepest, ++depth);
                break;
            }
            // An attribute: name, '=', quoted value. On anything else the parser ends the tag
            // there and reads on as content (past the character it took in place of '=').
            if (!isNameCharacter(c))
                break;
            p = endOfName(p);
            if (!skipSpace(p))
                return stop();
            if (p.getAndAdvance() != '=')
                break;
            if (!skipSpace(p))
                return stop();
            const auto quote = *p;
            if (quote != '"' && quote != '\'')
                break;
            ++p;
            while (*p != quote)
            {
                if (p.isEmpty())
                    return stop();
                if (*p == '&')
                {
                    if (!skipReference(p))
                        return false;
                }
                else
                    ++p;
            }
            ++p;
        }
        if (deepest > limit)
            return false;
    }
    return stop();
}

// Every attribute value may reach the framework's text-to-number reading (the parameters'
// "value" does): exponents that it would overflow are made readable, and a "value" that reads as
// NaN is dropped, so that its parameter takes its default as if the value were missing.
void makeNumbersReadable(juce::XmlElement& element)
{
    for (int i = element.getNumAttributes(); --i >= 0;)
    {
        const auto name = element.getAttributeName(i);
        const auto value = element.getAttributeValue(i);
        const auto readable = withReadableExponent(value);
        if (name == "value" && std::isnan(readable.getDoubleValue()))
            element.removeAttribute(name);
        else if (readable != value)
            element.setAttribute(name, readable);
    }
    for (auto* child : element.getChildIterator())
        makeNumbersReadable(*child);
}
} // namespace

std::unique_ptr<juce::XmlElement> readStateBlock(const void* data, int sizeInBytes)
{
    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt(data) != magic)
        return nullptr;
    const auto* bytes = static_cast<const char*>(data);
    const int length = static_cast<int>(juce::ByteOrder::littleEndianInt(bytes + 4));
    if (length < 1)
        return nullptr;
    const char* text = bytes + 8;
    const int available = std::min(sizeInBytes - 8, length);
    const int textBytes = static_cast<int>(std::find(text, text + available, '\0') - text);
    if (textBytes == 0 || !juce::CharPointer_UTF8::isValidString(text, textBytes))
        return nullptr;
    const auto xml = juce::String::fromUTF8(text, textBytes);
    if (!onlyLeadingProcessingInstruction(xml) || xml.containsIgnoreCase("<!DOCTYPE") || !parserCanRead(xml))
        return nullptr;
    auto document = juce::parseXML(xml);
    if (document != nullptr)
        makeNumbersReadable(*document);
    return document;
}
