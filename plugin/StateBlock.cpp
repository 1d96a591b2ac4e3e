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

// How the parser ends a start tag.
enum class StartTag
{
    opening,   // an element whose children follow
    empty,     // an element without children; its parent's content goes on after it
    last,      // an element after which the parser reads no more (the text or a comment ended)
    nameless,  // no element, and the element around it ends
    end,       // no element, and the parser reads no more
    unreadable // a reference that skipReference refuses
};

// Reads a start tag from its '<' as the parser does and moves p to where the parser reads on.
StartTag readStartTag(Text& p)
{
    ++p;
    if (!isNameCharacter(*p))
    {
        // White space and comments may come before the name (one after a comment left open too).
        const bool more = skipSpace(p);
        if (!isNameCharacter(*p))
            return more ? StartTag::nameless : StartTag::end;
        if (!more)
            return StartTag::last;
    }
    p = endOfName(p);
    for (;;)
    {
        if (!skipSpace(p))
            return StartTag::last;
        const auto c = *p;
        if (c == '/' && p[1] == '>')
        {
            p += 2;
            return StartTag::empty;
        }
        if (c == '>')
        {
            ++p;
            return StartTag::opening;
        }
        // An attribute: name, '=', quoted value. Anything else ends the element there, without
        // children, and the parser reads on as content (past the character it took for '=').
        if (!isNameCharacter(c))
            return StartTag::empty;
        p = endOfName(p);
        if (!skipSpace(p))
            return StartTag::last;
        if (p.getAndAdvance() != '=')
            return StartTag::empty;
        if (!skipSpace(p))
            return StartTag::last;
        const auto quote = *p;
        if (quote != '"' && quote != '\'')
            return StartTag::empty;
        for (++p; *p != quote;)
        {
            if (p.isEmpty())
                return StartTag::last;
            if (*p == '&')
            {
                if (!skipReference(p))
                    return StartTag::unreadable;
            }
            else
                ++p;
        }
        ++p;
    }
}

// Reads the document element as the framework's parser does (white space, comments, processing
// instructions, CDATA sections, closing tags skipped to their '>' whatever their name), without its
// recursion. True when it builds no element deeper than kep::load_limits::max_nesting and reads
// no reference other than skipReference's. The parser recurses once per element, and so do the
// walks over what it builds. It reads on after a broken tag, and a later error that lets it go on
// clears the one before, so broken tags count as it reads them. Text after the document element
// is never read.
bool parserCanRead(const juce::String& xml)
{
    constexpr int limit = kep::load_limits::max_nesting;
    auto p = xml.getCharPointer();
    if (!skipSpace(p) || *p != '<')
        return true;
    int depth = 0; // elements open around p
    for (;;)
    {
        switch (readStartTag(p))
        {
        case StartTag::opening:
            if (++depth > limit)
                return false;
            break;
        case StartTag::empty:
            if (depth == 0)
                return true;
            if (depth == limit)
                return false;
            break;
        case StartTag::last:
            return depth < limit;
        case StartTag::nameless:
            if (depth == 0 || --depth == 0)
                return true;
            break;
        case StartTag::end:
            return true;
        case StartTag::unreadable:
            return false;
        }
        // The content of the open element, up to the next start tag.
        for (;;)
        {
            if (!skipSpace(p))
                return true;
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
                // Without a '>' every open element ends there.
                const int end = p.indexOf(static_cast<juce::juce_wchar>('>'));
                if (end < 0 || --depth == 0)
                    return true;
                p += end + 1;
                continue;
            }
            if (p[1] == '!' && juce::CharacterFunctions::compareUpTo(p + 2, juce::CharPointer_ASCII("[CDATA["), 7) == 0)
            {
                if (!skipPast(p, 9, "]]>"))
                    return true;
                continue;
            }
            break;
        }
    }
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
